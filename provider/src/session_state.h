// What a logged-on session knows, shared by the objects opened in it: the
// profile, its stores (behind the store interface) and the user's identity. Objects keep it alive
// through shared pointers, so a store or folder stays usable after Logoff.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "entry_ids.h"
#include "message_store.h"
#include "profiles.h"

namespace provider {

constexpr ULONG kStoreUnicodeOk = 0x00040000;  // STORE_UNICODE_OK, not in every header set

struct StoreState {
  StoreConfig config;
  bool isDefault = false;
  ObjectId storeId{};
  // S_OK, or why the store could not be opened at logon: MAPI_E_NOT_FOUND
  // when the profile's directory is missing or holds no store,
  // MAPI_E_CORRUPT_DATA when its store file is damaged, MAPI_E_DISK_ERROR
  // when it cannot be read, MAPI_E_NETWORK_ERROR when its server could not
  // be reached. The store is listed all the same.
  HRESULT unavailable = S_OK;
  std::mutex lock;                     // guards store
  std::unique_ptr<MessageStore> store;  // null when a directory store is unavailable

  std::vector<uint8_t> StoreEntryId() const;
  // S_OK when the store can be used now (a server store that was away is
  // reached again), else why not. Call without the lock.
  HRESULT Available();
  // Whether the profile and the store let this folder be changed at all.
  bool FolderWritable(const StoreFolder& folder);  // call with lock held
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

// Builds the state of a session for a profile: opens each store, on disk or
// on its server (logged on with password, else the one the profile keeps).
// A logon never creates a store, whatever the profile names: a store that
// cannot be opened or reached is marked unavailable. A server that refuses
// the login or whose certificate is not accepted fails the logon
// (MAPI_E_LOGON_FAILED).
HRESULT CreateSessionState(const ProfileConfig& profile, const std::wstring& profilesPath,
                           const std::wstring& password, std::shared_ptr<SessionState>& out);

// Properties of a folder as rows and GetProps show them.
std::vector<Value> FolderValues(StoreState& store, const StoreFolder& folder, ULONG depth);
// FolderValues in three groups, so that a hierarchy table of thousands of
// folders makes only the entry id and name of each row at first, and the
// rest when a caller asks for it: the counts (PR_SUBFOLDERS and the message
// counts, which read the folder's subfolders and index) and the details.
extern const std::vector<ULONG> kFolderCountTags;
extern const std::vector<ULONG> kFolderDetailTags;
std::vector<Value> FolderNameValues(StoreState& store, const StoreFolder& folder);
std::vector<Value> FolderDetailValues(StoreState& store, const StoreFolder& folder, ULONG depth);
std::vector<Value> FolderCountValues(StoreState& store, const StoreFolder& folder);  // call with lock held
std::vector<uint8_t> FolderEntryId(const StoreState& store, const ObjectId& folderId);

std::wstring LoadProviderText(UINT id);

}  // namespace provider
