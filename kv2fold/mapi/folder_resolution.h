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

// Characters of one path component's buffer, terminator included: a longer
// component is looked up by its first 79 characters.
constexpr size_t kPathComponentCapacity = 80;

// Store opening flags: MDB_WRITE, and MDB_NO_DIALOG for a silent job.
constexpr ULONG kStoreOpenFlags = MDB_WRITE;
constexpr ULONG kSilentStoreOpenFlags = MDB_WRITE | MDB_NO_DIALOG;
static_assert(kStoreOpenFlags == 4 && kSilentStoreOpenFlags == 5, "store opening flags");

// PersonalReport: the default store's Common Views folder. folderOut must be
// empty on entry and is written only by the final OpenEntry (a mask without
// the Common Views bit succeeds without a folder). The store is released
// before returning.
HRESULT OpenPersonalFolder(IMAPISession* session, MAPIInterface<IMAPIFolder>& folderOut) noexcept;

// FolderReport and ReportInstance: opens the store the path names and walks
// down to its last component, opened with MAPI_MODIFY (every other folder with
// MAPI_BEST_ACCESS). An empty component ends the path. On failure folderOut
// is empty while storeOut may still hold the store; the caller releases both.
HRESULT ResolveFolderPath(IMAPISession* session, const wchar_t* path, uint32_t silent,
                          MAPIInterface<IMsgStore>& storeOut, MAPIInterface<IMAPIFolder>& folderOut) noexcept;

// A store's top of information store folder, opened with MAPI_BEST_ACCESS.
HRESULT OpenStoreTop(IMsgStore* store, MAPIInterface<IMAPIFolder>& folderOut) noexcept;

// The steps of the above.

// Copies the component after cursor (null: the path's first) into name, at
// most capacity - 1 characters, and leaves cursor on the "#" or terminator
// that ends it. 0 when there is none: at the path's end or an empty
// component.
int NextPathComponent(const wchar_t* path, const wchar_t*& cursor, wchar_t* name, size_t capacity) noexcept;
HRESULT OpenStoreByName(IMAPISession* session, const wchar_t* name, uint32_t silent, MAPIInterface<IMsgStore>& storeOut,
                        MAPIInterface<IMAPIFolder>& folderOut) noexcept;
// folderInOut holds the parent on entry and the child on success; the parent
// is released before the child is opened, so one folder is open at a time.
HRESULT OpenChildFolderByName(IMsgStore* store, const wchar_t* name, ULONG flags,
                              MAPIInterface<IMAPIFolder>& folderInOut) noexcept;
// The first row whose first column, a single-byte display name in the ANSI
// code page, equals name exactly; rows without a string never match. The row
// lives in the table's batch.
const SRow* FindRowByDisplayName(CMAPITable& table, const wchar_t* name) noexcept;
// The session's default store, or null; missing (when given) then receives
// why: MAPI_E_NOT_FOUND, or the failure that cut the stores table's scan short.
MAPIInterface<IMsgStore> OpenDefaultStore(IMAPISession* session, HRESULT* missing = nullptr) noexcept;
HRESULT OpenCommonViewsFolder(IMsgStore* store, MAPIInterface<IMAPIFolder>& folderOut) noexcept;
