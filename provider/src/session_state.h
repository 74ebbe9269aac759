// What a logged-on session knows, shared by the objects opened in it: the
// profile, its stores on disk and the user's identity. Objects keep it alive
// through shared pointers, so a store or folder stays usable after Logoff.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "entry_ids.h"
#include "folder_index.h"
#include "profiles.h"
#include "store_layout.h"

namespace provider {

constexpr ULONG kStoreUnicodeOk = 0x00040000;  // STORE_UNICODE_OK, not in every header set

struct StoreState {
  StoreConfig config;
  bool isDefault = false;
  ObjectId storeId{};
  // S_OK, or why the store cannot be opened: MAPI_E_NOT_FOUND when the
  // profile's directory is missing or holds no store, MAPI_E_CORRUPT_DATA
  // when its store file is damaged, MAPI_E_DISK_ERROR when it cannot be read.
  // The store is listed all the same; opening it answers this.
  HRESULT unavailable = S_OK;
  std::mutex lock;                      // guards layout
  std::unique_ptr<StoreLayout> layout;  // the store on disk; null when unavailable

  std::vector<uint8_t> StoreEntryId() const;
  // Whether the profile lets this folder be changed at all.
  bool FolderWritable(const FolderRecord& folder);  // call with lock held
};

struct SessionState {
  std::wstring profileName;
  std::vector<std::shared_ptr<StoreState>> stores;
  std::wstring userName;
  std::wstring userAddress;
  std::wstring addressType;
  std::vector<uint8_t> userEntryId;
  std::vector<uint8_t> userSearchKey;
  std::atomic<bool> loggedOff{false};

  std::shared_ptr<StoreState> FindStore(const ObjectId& storeId) const;
};

// Builds the state of a session for a profile: opens each store on disk. A
// logon never creates a store, whatever the profile names: a store that
// cannot be opened is marked unavailable.
HRESULT CreateSessionState(const ProfileConfig& profile, const std::wstring& profilesPath,
                           std::shared_ptr<SessionState>& out);

HRESULT StoreResultToHresult(StoreResult result);

// Properties of a folder as rows and GetProps show them.
std::vector<Value> FolderValues(StoreState& store, const FolderRecord& folder, ULONG depth);
// FolderValues in three groups, so that a hierarchy table of thousands of
// folders makes only the entry id and name of each row at first, and the
// rest when a caller asks for it: the counts (PR_SUBFOLDERS and the message
// counts, which read the folder's subfolders and index) and the details.
extern const std::vector<ULONG> kFolderCountTags;
extern const std::vector<ULONG> kFolderDetailTags;
std::vector<Value> FolderNameValues(StoreState& store, const FolderRecord& folder);
std::vector<Value> FolderDetailValues(StoreState& store, const FolderRecord& folder, ULONG depth);
std::vector<Value> FolderCountValues(StoreState& store, const FolderRecord& folder);
std::vector<uint8_t> FolderEntryId(const StoreState& store, const ObjectId& folderId);

std::wstring LoadProviderText(UINT id);

}  // namespace provider
