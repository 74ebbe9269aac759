#include "mapi/folder_resolution.h"

#include <mapitags.h>

#include <cwchar>

#include "mapi/display_name.h"
#include "mapi/interface_ids.h"
#include "mapi/mapi_table.h"
#include "platform/wide_text.h"

namespace {

// Column sets, each index beside its tag.
enum DefaultStoreColumn : ULONG { kStoreEntryId, kStoreIsDefault, kDefaultStoreColumnCount };
enum CommonViewsValue : ULONG { kValidFolderMask, kCommonViewsEntryId, kCommonViewsValueCount };
// Stores and child folders are found by name: the wide name where the store
// serves it, else the single-byte one.
enum NamedEntryColumn : ULONG { kWideNameColumn, kNarrowNameColumn, kEntryIdColumn, kNamedEntryColumnCount };
SizedSPropTagArray(kNamedEntryColumnCount, g_namedEntryColumns) = {
    kNamedEntryColumnCount, {PR_DISPLAY_NAME_W, PR_DISPLAY_NAME_A, PR_ENTRYID}};

const SPropTagArray* Columns(const void* sizedArray) noexcept {
  return static_cast<const SPropTagArray*>(sizedArray);
}

LPENTRYID EntryIdOf(const SPropValue& value) noexcept { return reinterpret_cast<LPENTRYID>(value.Value.bin.lpb); }

}  // namespace

HRESULT OpenPersonalFolder(IMAPISession* session, MAPIInterface<IMAPIFolder>& folderOut,
                           bool* noDefaultStore) noexcept {
  HRESULT missing = MAPI_E_NOT_FOUND;
  MAPIInterface<IMsgStore> store = OpenDefaultStore(session, &missing);
  if (noDefaultStore) *noDefaultStore = !store && missing == MAPI_E_NOT_FOUND;
  if (!store) return missing;
  return OpenCommonViewsFolder(store.get(), folderOut);
}

MAPIInterface<IMsgStore> OpenDefaultStore(IMAPISession* session, HRESULT* missing) noexcept {
  MAPIInterface<IMsgStore> store;
  CMAPITable stores;
  if (!stores.OpenMsgStoresTable(session) || !stores.table) return store;
  SizedSPropTagArray(kDefaultStoreColumnCount, columns) = {kDefaultStoreColumnCount, {PR_ENTRYID, PR_DEFAULT_STORE}};
  if (!stores.Prepare(Columns(&columns), nullptr, nullptr)) return store;
  const SRow* found = nullptr;
  while (const SRow* row = stores.NextRow()) {
    if (row->cValues >= kDefaultStoreColumnCount && row->lpProps[kStoreIsDefault].ulPropTag == PR_DEFAULT_STORE &&
        row->lpProps[kStoreIsDefault].Value.b != 0) {
      found = row;
      break;
    }
  }
  if (!found && missing) *missing = stores.ScanEndResult(MAPI_E_NOT_FOUND);
  if (!found || found->lpProps[kStoreEntryId].ulPropTag != PR_ENTRYID) return store;
  const SPropValue& entryId = found->lpProps[kStoreEntryId];
  // Whatever the call answers, the store it delivered (or none) is the result.
  session->OpenMsgStore(0, entryId.Value.bin.cb, EntryIdOf(entryId), nullptr, MDB_WRITE, store.put());
  return store;
}

HRESULT OpenCommonViewsFolder(IMsgStore* store, MAPIInterface<IMAPIFolder>& folderOut) noexcept {
  if (!store) return E_INVALIDARG;
  SizedSPropTagArray(kCommonViewsValueCount, tags) = {kCommonViewsValueCount,
                                                      {PR_VALID_FOLDER_MASK, PR_COMMON_VIEWS_ENTRYID}};
  ULONG count = 0;
  MAPIBuffer<SPropValue> values;
  HRESULT result = store->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &count, values.put());
  if (result < 0) return result;
  if (!values || count < kCommonViewsValueCount || values.get()[kValidFolderMask].ulPropTag != PR_VALID_FOLDER_MASK ||
      values.get()[kCommonViewsEntryId].ulPropTag != PR_COMMON_VIEWS_ENTRYID) {
    return E_FAIL;
  }
  // Without the valid bit no folder is opened: each posting then fails for
  // want of one.
  if (values.get()[kValidFolderMask].Value.l & FOLDER_COMMON_VIEWS_VALID) {
    ULONG objectType = 0;
    const SBinary& entryId = values.get()[kCommonViewsEntryId].Value.bin;
    result = store->OpenEntry(entryId.cb, reinterpret_cast<LPENTRYID>(entryId.lpb), nullptr, MAPI_BEST_ACCESS,
                              &objectType, folderOut.putUnknown());
  }
  return result;
}

HRESULT ResolveFolderPath(IMAPISession* session, const wchar_t* path, uint32_t silent,
                          MAPIInterface<IMsgStore>& storeOut, MAPIInterface<IMAPIFolder>& folderOut) noexcept {
  storeOut.reset();
  folderOut.reset();
  const wchar_t* cursor = nullptr;
  PathComponent name;
  if (!NextPathComponent(path, cursor, name)) return E_FAIL;
  HRESULT result = OpenStoreByName(session, name, silent, storeOut, folderOut);
  while (result >= 0) {
    if (!NextPathComponent(path, cursor, name)) return result;
    // The last component is the folder posted into.
    const ULONG flags = *cursor == L'\0' ? MAPI_MODIFY : MAPI_BEST_ACCESS;
    result = OpenChildFolderByName(storeOut.get(), name, flags, folderOut);
  }
  folderOut.reset();
  return result;
}

int NextPathComponent(const wchar_t* path, const wchar_t*& cursor, PathComponent& component) noexcept {
  if (!path) return 0;
  const wchar_t* start = path;
  if (cursor) {
    if (*cursor == L'\0') return 0;
    start = cursor + 1;
  }
  if (*start == L'#' || *start == L'\0') return 0;  // an empty component ends the path
  const wchar_t* end = start;
  while (*end != L'#' && *end != L'\0') ++end;
  cursor = end;
  component.text = start;
  component.length = static_cast<size_t>(end - start);
  return 1;
}

HRESULT OpenStoreByName(IMAPISession* session, const PathComponent& name, uint32_t silent,
                        MAPIInterface<IMsgStore>& storeOut, MAPIInterface<IMAPIFolder>& folderOut) noexcept {
  CMAPITable stores;
  if (!stores.OpenMsgStoresTable(session) || !stores.table) return stores.lastResult;
  if (!stores.Prepare(Columns(&g_namedEntryColumns), nullptr, nullptr)) return stores.lastResult;
  const SRow* row = FindRowByDisplayName(stores, name);
  if (!row) return stores.ScanEndResult(MAPI_E_NOT_FOUND);
  if (row->cValues < kNamedEntryColumnCount || row->lpProps[kEntryIdColumn].ulPropTag != PR_ENTRYID) {
    return MAPI_E_NOT_FOUND;
  }
  const ULONG flags = silent == 1 ? kSilentStoreOpenFlags : kStoreOpenFlags;
  HRESULT result =
      session->OpenMsgStore(reinterpret_cast<ULONG_PTR>(GetActiveWindow()), row->lpProps[kEntryIdColumn].Value.bin.cb,
                            EntryIdOf(row->lpProps[kEntryIdColumn]), &kMsgStoreInterface, flags, storeOut.put());
  if (result < 0) return result;
  return OpenStoreTop(storeOut.get(), folderOut);
}

HRESULT OpenChildFolderByName(IMsgStore* store, const PathComponent& name, ULONG flags,
                              MAPIInterface<IMAPIFolder>& folderInOut) noexcept {
  if (!store) return E_INVALIDARG;
  CMAPITable children;
  if (!children.OpenHierarchyTable(folderInOut.get()) || !children.table) return children.lastResult;
  if (!children.Prepare(Columns(&g_namedEntryColumns), nullptr, nullptr)) return children.lastResult;
  const SRow* row = FindRowByDisplayName(children, name);
  if (!row) return children.ScanEndResult(MAPI_E_NOT_FOUND);
  if (row->cValues < kNamedEntryColumnCount || row->lpProps[kEntryIdColumn].ulPropTag != PR_ENTRYID) {
    return MAPI_E_NOT_FOUND;
  }
  // One folder open at a time; the entry id lives on in the table's batch.
  folderInOut.reset();
  ULONG objectType = 0;
  return store->OpenEntry(row->lpProps[kEntryIdColumn].Value.bin.cb, EntryIdOf(row->lpProps[kEntryIdColumn]),
                          &kFolderInterface, flags, &objectType, folderInOut.putUnknown());
}

const SRow* FindRowByDisplayName(CMAPITable& table, const PathComponent& name) noexcept {
  if (!table.table || !name.text) return nullptr;
  table.lastResult = table.table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
  table.FreeBatch();
  while (const SRow* row = table.NextRow()) {
    // Whole names only: a component never matches a longer name that starts
    // with it, nor a name holding "#" through part of it.
    RowDisplayName displayName;
    if (displayName.Read(*row, kWideNameColumn, kNarrowNameColumn) && displayName.Equals(name.text, name.length)) {
      return row;
    }
  }
  return nullptr;
}

HRESULT OpenStoreTop(IMsgStore* store, MAPIInterface<IMAPIFolder>& folderOut) noexcept {
  folderOut.reset();
  if (!store) return E_INVALIDARG;
  MAPIBuffer<SPropValue> value;
  HRESULT result = g_MAPIFunctions.HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, value.put());
  if (result < 0) return result;
  if (!value) return MAPI_E_NOT_FOUND;
  ULONG objectType = 0;
  result = store->OpenEntry(value->Value.bin.cb, reinterpret_cast<LPENTRYID>(value->Value.bin.lpb), nullptr,
                            MAPI_BEST_ACCESS, &objectType, folderOut.putUnknown());
  if (result < 0) folderOut.reset();
  return result;
}
