// The one way the module reads a MAPI table: a wrapper that owns the table,
// remembers the last MAPI result, hands rows out one at a time while fetching
// them in batches of 50, waits once for a busy table and frees every MAPI
// allocation it receives.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstdint>

#include "mapi/mapi_owners.h"

// Rows fetched per IMAPITable::QueryRows.
constexpr LONG kTableBatchRows = 50;
// How long a busy table is waited for, once, in milliseconds.
constexpr ULONG kBusyWaitMilliseconds = 5000;

// What every MAPI wrapper keeps: the last result and MAPI's error
// information about it.
class CMAPIObject {
 public:
  CMAPIObject() noexcept = default;
  virtual ~CMAPIObject() = default;
  CMAPIObject(const CMAPIObject&) = delete;
  CMAPIObject& operator=(const CMAPIObject&) = delete;

  // Fetches MAPI's error information for lastResult into errorInfo.
  virtual HRESULT LoadErrorInfo() noexcept = 0;
  void FreeErrorInfo() noexcept { errorInfo.reset(); }

  HRESULT lastResult = S_OK;
  MAPIBuffer<MAPIERROR> errorInfo;
  uint32_t valid = 1;
};

class CMAPITable : public CMAPIObject {
 public:
  CMAPITable() noexcept = default;
  ~CMAPITable() override { Close(); }

  HRESULT LoadErrorInfo() noexcept override;

  // Each open first closes the previous table. A null argument returns 0
  // without a MAPI call and leaves lastResult alone; otherwise the result is
  // stored in lastResult and the answer is 1 when it is not negative.
  int OpenAssociatedContentsTable(IMAPIContainer* container) noexcept;
  int OpenContentsTable(IMAPIContainer* container) noexcept;
  int OpenHierarchyTable(IMAPIContainer* container) noexcept;
  int OpenMsgStoresTable(IMAPISession* session) noexcept;
  int OpenStatusTable(IMAPISession* session) noexcept;  // also counts the rows

  // Ready to read from the first row: restriction (or none), sort order (if
  // given), columns, row count, seek to the beginning. 1 or 0.
  int Prepare(const SPropTagArray* columns, const SRestriction* restriction, const SSortOrderSet* sortOrder) noexcept;
  // The next row, valid until the next call that touches the batch; null at
  // the end or when MAPI fails (lastResult says which).
  const SRow* NextRow() noexcept;
  int RefreshRowCount() noexcept;
  int FetchBatch() noexcept;
  int FreeBatch() noexcept;
  int Close() noexcept;
  int ClearRestriction() noexcept;
  // What a scan that found no row means: the failure of the last MAPI call
  // (a QueryRows that failed midway is not an absent row), MAPI_E_BUSY when a
  // busy QueryRows was waited for but delivered nothing, else notFound.
  HRESULT ScanEndResult(HRESULT notFound) const noexcept {
    if (lastResult < 0) return lastResult;
    return busyFetchEmpty_ ? MAPI_E_BUSY : notFound;
  }
  // Every column the table offers; the caller frees it with MAPIFreeBuffer.
  SPropTagArray* QueryAllColumns() noexcept;
  // The single-byte text of MAPI's error information about a failed last
  // call, or null; valid until the next call on this wrapper.
  const char* GetErrorText() noexcept;

  MAPIInterface<IMAPITable> table;
  ULONG rowCount = 0;
  MAPIRowSet rowBatch;
  ULONG nextRow = 0;

 private:
  // A MAPI_E_BUSY answer is replaced by the result of one bounded wait.
  HRESULT AfterBusyWait(HRESULT result) noexcept;
  // Stores result in lastResult and answers 1 when it is not negative.
  int Opened(HRESULT result) noexcept;

  // The last fetch answered busy, the wait let it through, and no rows came.
  bool busyFetchEmpty_ = false;
};
