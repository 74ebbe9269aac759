// Finding the folder an export posts into: the Common Views folder of the
// session's default store, or the folder a "#"-joined path of display names
// names (store first, then folders below its top of information store).
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstddef>
#include <cstdint>

#include "mapi/mapi_owners.h"

class CMAPITable;

// One component of a folder path, as it stands in the path: whole, never
// cut, and never holding "#" (the separator) or nothing (which ends a path).
struct PathComponent {
  const wchar_t* text = nullptr;
  size_t length = 0;
};

// Store opening flags: MDB_WRITE, and MDB_NO_DIALOG for a silent job.
constexpr ULONG kStoreOpenFlags = MDB_WRITE;
constexpr ULONG kSilentStoreOpenFlags = MDB_WRITE | MDB_NO_DIALOG;
static_assert(kStoreOpenFlags == 4 && kSilentStoreOpenFlags == 5, "store opening flags");

// PersonalReport: the default store's Common Views folder. folderOut must be
// empty on entry and is written only by the final OpenEntry (a mask without
// the Common Views bit succeeds without a folder). The store is released
// before returning. noDefaultStore (when given) tells a MAPI_E_NOT_FOUND for
// want of a default store from one of the folder.
HRESULT OpenPersonalFolder(IMAPISession* session, MAPIInterface<IMAPIFolder>& folderOut,
                           bool* noDefaultStore = nullptr) noexcept;

// FolderReport and ReportInstance: opens the store the path names and walks
// down to its last component, opened with MAPI_MODIFY (every other folder with
// MAPI_BEST_ACCESS). An empty component ends the path. On failure folderOut
// is empty while storeOut may still hold the store; the caller releases both.
HRESULT ResolveFolderPath(IMAPISession* session, const wchar_t* path, uint32_t silent,
                          MAPIInterface<IMsgStore>& storeOut, MAPIInterface<IMAPIFolder>& folderOut) noexcept;

// A store's top of information store folder, opened with MAPI_BEST_ACCESS.
HRESULT OpenStoreTop(IMsgStore* store, MAPIInterface<IMAPIFolder>& folderOut) noexcept;

// The steps of the above.

// The component after cursor (null: the path's first); cursor is left on
// the "#" or terminator that ends it. 0 when there is none: at the path's
// end or an empty component.
int NextPathComponent(const wchar_t* path, const wchar_t*& cursor, PathComponent& component) noexcept;
HRESULT OpenStoreByName(IMAPISession* session, const PathComponent& name, uint32_t silent,
                        MAPIInterface<IMsgStore>& storeOut, MAPIInterface<IMAPIFolder>& folderOut) noexcept;
// folderInOut holds the parent on entry and the child on success; the parent
// is released before the child is opened, so one folder is open at a time.
HRESULT OpenChildFolderByName(IMsgStore* store, const PathComponent& name, ULONG flags,
                              MAPIInterface<IMAPIFolder>& folderInOut) noexcept;
// The first row whose display name (RowDisplayName over the named-entry
// columns) equals name whole and exactly; rows without a name never match.
// The row lives in the table's batch.
const SRow* FindRowByDisplayName(CMAPITable& table, const PathComponent& name) noexcept;
// The session's default store, or null; missing (when given) then receives
// why: MAPI_E_NOT_FOUND, or the failure that cut the stores table's scan short.
MAPIInterface<IMsgStore> OpenDefaultStore(IMAPISession* session, HRESULT* missing = nullptr) noexcept;
HRESULT OpenCommonViewsFolder(IMsgStore* store, MAPIInterface<IMAPIFolder>& folderOut) noexcept;
