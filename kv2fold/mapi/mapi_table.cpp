#include "mapi/mapi_table.h"

HRESULT CMAPITable::LoadErrorInfo() noexcept {
  if (!table) return MAPI_E_CALL_FAILED;
  // Flags 0: the texts come back single-byte.
  return table->GetLastError(lastResult, 0, errorInfo.put());
}

HRESULT CMAPITable::AfterBusyWait(HRESULT result) noexcept {
  if (result != MAPI_E_BUSY) return result;
  // The call is not repeated; the wait's answer decides.
  return table->WaitForCompletion(0, kBusyWaitMilliseconds, nullptr);
}

int CMAPITable::Opened(HRESULT result) noexcept {
  lastResult = result;
  return result >= 0 ? 1 : 0;
}

int CMAPITable::OpenAssociatedContentsTable(IMAPIContainer* container) noexcept {
  Close();
  if (!container) return 0;
  return Opened(container->GetContentsTable(MAPI_ASSOCIATED, table.put()));
}

int CMAPITable::OpenContentsTable(IMAPIContainer* container) noexcept {
  Close();
  if (!container) return 0;
  return Opened(container->GetContentsTable(0, table.put()));
}

int CMAPITable::OpenHierarchyTable(IMAPIContainer* container) noexcept {
  Close();
  if (!container) return 0;
  return Opened(container->GetHierarchyTable(0, table.put()));
}

int CMAPITable::OpenMsgStoresTable(IMAPISession* session) noexcept {
  Close();
  if (!session) return 0;
  return Opened(session->GetMsgStoresTable(0, table.put()));
}

int CMAPITable::OpenStatusTable(IMAPISession* session) noexcept {
  Close();
  if (!session) return 0;
  if (!Opened(session->GetStatusTable(0, table.put()))) return 0;
  if (table) RefreshRowCount();  // its answer does not matter here
  return 1;
}

int CMAPITable::Prepare(const SPropTagArray* columns, const SRestriction* restriction,
                        const SSortOrderSet* sortOrder) noexcept {
  FreeBatch();
  if (!table) return 0;
  if (restriction) {
    lastResult = AfterBusyWait(table->Restrict(const_cast<SRestriction*>(restriction), 0));
    if (lastResult < 0) return 0;
  } else {
    table->Restrict(nullptr, 0);  // removes an earlier restriction; its answer is not needed
  }
  if (sortOrder) {
    lastResult = AfterBusyWait(table->SortTable(const_cast<SSortOrderSet*>(sortOrder), 0));
    if (lastResult < 0) return 0;
  }
  lastResult = AfterBusyWait(table->SetColumns(const_cast<SPropTagArray*>(columns), 0));
  if (lastResult < 0) return 0;
  if (!RefreshRowCount()) return 0;
  lastResult = AfterBusyWait(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr));
  return lastResult >= 0 ? 1 : 0;
}

const SRow* CMAPITable::NextRow() noexcept {
  if (!table) return nullptr;
  if (rowBatch && nextRow < rowBatch->cRows) return &rowBatch->aRow[nextRow++];
  FreeBatch();
  if (!FetchBatch() || !rowBatch || rowBatch->cRows == 0) return nullptr;
  nextRow = 1;
  return &rowBatch->aRow[0];
}

int CMAPITable::RefreshRowCount() noexcept {
  if (!table) return 0;
  // A busy count that the wait lets through delivered nothing: the previous
  // count stays.
  ULONG count = rowCount;
  HRESULT result = table->GetRowCount(0, &count);
  lastResult = AfterBusyWait(result);
  if (lastResult < 0) {
    rowCount = 0;
    return 0;
  }
  if (result != MAPI_E_BUSY) rowCount = count;
  return 1;
}

int CMAPITable::FetchBatch() noexcept {
  if (!table) return 0;
  const HRESULT result = table->QueryRows(kTableBatchRows, 0, rowBatch.put());
  lastResult = AfterBusyWait(result);
  busyFetchEmpty_ = result == MAPI_E_BUSY && lastResult >= 0 && !rowBatch;
  return lastResult >= 0 ? 1 : 0;
}

int CMAPITable::FreeBatch() noexcept {
  rowBatch.reset();
  nextRow = 0;
  return 1;
}

int CMAPITable::Close() noexcept {
  FreeBatch();
  if (table) {
    table.reset();
    rowCount = 0;
  }
  return 1;
}

int CMAPITable::ClearRestriction() noexcept {
  FreeBatch();
  if (!table) return 0;
  lastResult = table->Restrict(nullptr, 0);
  return lastResult >= 0 ? 1 : 0;
}

SPropTagArray* CMAPITable::QueryAllColumns() noexcept {
  if (!table) return nullptr;
  MAPIBuffer<SPropTagArray> columns;
  lastResult = AfterBusyWait(table->QueryColumns(TBL_ALL_COLUMNS, columns.put()));
  if (lastResult < 0) return nullptr;  // the owner frees what a failing call returned
  return columns.release();
}

const char* CMAPITable::GetErrorText() noexcept {
  FreeErrorInfo();
  if (lastResult >= 0 || LoadErrorInfo() != S_OK || !errorInfo) return nullptr;
  return reinterpret_cast<const char*>(errorInfo->lpszError);
}
