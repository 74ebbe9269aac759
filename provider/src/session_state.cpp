#include "session_state.h"

#include <algorithm>

#include <mapicode.h>
#include <mapitags.h>

#include "directory_store.h"
#include "properties.h"
#include "server_store.h"
#include "text.h"

namespace provider {

std::vector<uint8_t> StoreState::StoreEntryId() const {
  EntryId id;
  id.kind = EntryKind::Store;
  id.store = storeId;
  return EncodeEntryId(id);
}

HRESULT StoreState::Available() {
  if (!store) return unavailable;
  std::lock_guard<std::mutex> guard(lock);
  return StoreResultToHresult(store->Reconnect());
}

bool StoreState::FolderWritable(const StoreFolder& folder) {
  if (config.readOnly) return false;
  bool writable = false;
  if (store->Writable(folder, writable) != StoreResult::Ok || !writable) return false;
  if (config.readOnlyFolders.empty()) return true;
  // The folder's path below the top of information store, as the profile writes it.
  std::wstring path;
  StoreFolder current = folder;
  for (int depth = 0; depth < 1000; ++depth) {
    if (current.id == store->ipmSubtreeId()) {
      for (const std::wstring& marked : config.readOnlyFolders)
        if (marked == path) return false;
      return true;
    }
    if (current.kind == FolderKind::Root) return true;
    path = path.empty() ? current.name : current.name + L"#" + path;
    StoreFolder parent;
    if (store->Find(current.parentId, parent) != StoreResult::Ok) return true;
    current = std::move(parent);
  }
  return true;
}

std::shared_ptr<StoreState> SessionState::FindStore(const ObjectId& storeId) const {
  for (const auto& store : stores)
    if (store->storeId == storeId) return store;
  return nullptr;
}

HRESULT CreateSessionState(const ProfileConfig& profile, const std::wstring& profilesPath,
                           const std::wstring& password, std::shared_ptr<SessionState>& out) {
  out.reset();
  auto state = std::make_shared<SessionState>();
  state->profileName = profile.name;
  state->userName = profile.userName.empty() ? profile.name : profile.userName;
  state->userAddress = profile.userAddress.empty() ? state->userName : profile.userAddress;
  for (const StoreConfig& config : profile.stores) {
    auto store = std::make_shared<StoreState>();
    store->config = config;
    store->isDefault = !profile.defaultStore.empty() && profile.defaultStore == config.name;
    StoreResult result = StoreResult::Ok;
    if (config.onServer) {
      ServerLogon logon{password, state->userName, state->userAddress};
      result = OpenServerStore(config.server, logon, store->store);
      // The password is the logon's: a server that refuses it fails the logon.
      if (result == StoreResult::LogonFailed || result == StoreResult::OutOfMemory) return StoreResultToHresult(result);
    } else {
      result = DirectoryStore::Open(ResolveStoreDirectory(profilesPath, config.directory), store->store);
    }
    if (result != StoreResult::Ok) {
      store->unavailable = result == StoreResult::NotFound      ? MAPI_E_NOT_FOUND
                           : result == StoreResult::Corrupt      ? MAPI_E_CORRUPT_DATA
                           : result == StoreResult::NetworkError ? MAPI_E_NETWORK_ERROR
                                                                 : MAPI_E_DISK_ERROR;
    }
    if (store->store) {
      store->storeId = store->store->storeId();
    } else {
      // An id of its own, the same in every session, for its entry identifier.
      std::string key = ToUtf8(UpperCase(profile.name) + L"\n" + config.name);
      store->storeId = DeriveKey(std::vector<uint8_t>(key.begin(), key.end()));
    }
    state->stores.push_back(std::move(store));
  }
  // The identity: a search key in MAPI's "TYPE:ADDRESS" form, upper case, and
  // an entry identifier derived from it, so both stay the same in every session.
  state->addressType = state->userAddress.find(L'@') != std::wstring::npos ? L"SMTP" : L"KV";
  std::string key = ToUtf8(UpperCase(state->addressType + L":" + state->userAddress));
  state->userSearchKey.assign(key.begin(), key.end());
  state->userSearchKey.push_back(0);
  EntryId user;
  user.kind = EntryKind::User;
  user.object = DeriveKey(state->userSearchKey);
  state->userEntryId = EncodeEntryId(user);
  out = std::move(state);
  return S_OK;
}

std::vector<uint8_t> FolderEntryId(const StoreState& store, const ObjectId& folderId) {
  EntryId id;
  id.kind = EntryKind::Folder;
  id.store = store.storeId;
  id.folder = folderId;
  return EncodeEntryId(id);
}

const std::vector<ULONG> kFolderCountTags = {PR_SUBFOLDERS, PR_CONTENT_COUNT, PR_ASSOC_CONTENT_COUNT,
                                             PR_CONTENT_UNREAD};
const std::vector<ULONG> kFolderDetailTags = {PR_INSTANCE_KEY, PR_RECORD_KEY,     PR_COMMENT_W,
                                              PR_FOLDER_TYPE,  PR_OBJECT_TYPE,    PR_DEPTH,
                                              PR_PARENT_ENTRYID, PR_STORE_ENTRYID, PR_STORE_RECORD_KEY};

std::vector<Value> FolderNameValues(StoreState& store, const StoreFolder& folder) {
  std::vector<Value> values;  // filled by moving: a list of thousands of rows is made here
  values.reserve(2);
  values.push_back(Value::Binary(PR_ENTRYID, FolderEntryId(store, folder.id)));
  values.push_back(Value::Text(PR_DISPLAY_NAME_W, folder.name));
  return values;
}

std::vector<Value> FolderDetailValues(StoreState& store, const StoreFolder& folder, ULONG depth) {
  std::vector<Value> values;
  values.push_back(Value::Binary(PR_INSTANCE_KEY, folder.id));
  values.push_back(Value::Binary(PR_RECORD_KEY, folder.id));
  values.push_back(Value::Text(PR_COMMENT_W, folder.comment));
  values.push_back(Value::Long(PR_FOLDER_TYPE, folder.kind == FolderKind::Root ? FOLDER_ROOT : FOLDER_GENERIC));
  values.push_back(Value::Long(PR_OBJECT_TYPE, MAPI_FOLDER));
  values.push_back(Value::Long(PR_DEPTH, depth));
  if (folder.kind != FolderKind::Root)
    values.push_back(Value::Binary(PR_PARENT_ENTRYID, FolderEntryId(store, folder.parentId)));
  values.push_back(Value::Binary(PR_STORE_ENTRYID, store.StoreEntryId()));
  values.push_back(Value::Binary(PR_STORE_RECORD_KEY, store.storeId));
  return values;
}

std::vector<Value> FolderCountValues(StoreState& store, const StoreFolder& folder) {
  FolderCounts counts;
  StoreResult result = store.store->Counts(folder, counts);
  if (result != StoreResult::Ok) {
    const int64_t code = StoreResultToHresult(result);
    return {Value::Long(CHANGE_PROP_TYPE(PR_SUBFOLDERS, PT_ERROR), code),
            Value::Long(CHANGE_PROP_TYPE(PR_CONTENT_COUNT, PT_ERROR), code),
            Value::Long(CHANGE_PROP_TYPE(PR_ASSOC_CONTENT_COUNT, PT_ERROR), code),
            Value::Long(CHANGE_PROP_TYPE(PR_CONTENT_UNREAD, PT_ERROR), code)};
  }
  return {Value::Bool(PR_SUBFOLDERS, counts.hasSubfolders), Value::Long(PR_CONTENT_COUNT, counts.contents),
          Value::Long(PR_ASSOC_CONTENT_COUNT, counts.associated), Value::Long(PR_CONTENT_UNREAD, counts.unread)};
}

std::vector<Value> FolderValues(StoreState& store, const StoreFolder& folder, ULONG depth) {
  std::vector<Value> values = FolderNameValues(store, folder);
  for (Value& value : FolderDetailValues(store, folder, depth)) values.push_back(std::move(value));
  for (Value& value : FolderCountValues(store, folder)) values.push_back(std::move(value));
  // In the order a folder has always listed them.
  static const ULONG order[] = {PR_ENTRYID,        PR_INSTANCE_KEY,   PR_RECORD_KEY,       PR_DISPLAY_NAME_W,
                                PR_COMMENT_W,      PR_SUBFOLDERS,     PR_CONTENT_COUNT,    PR_ASSOC_CONTENT_COUNT,
                                PR_CONTENT_UNREAD, PR_FOLDER_TYPE,    PR_OBJECT_TYPE,      PR_DEPTH,
                                PR_PARENT_ENTRYID, PR_STORE_ENTRYID,  PR_STORE_RECORD_KEY};
  auto position = [](const Value& value) { return std::find(std::begin(order), std::end(order), value.tag) - order; };
  std::stable_sort(values.begin(), values.end(),
                   [&](const Value& a, const Value& b) { return position(a) < position(b); });
  return values;
}

std::wstring LoadProviderText(UINT id) {
  const wchar_t* text = nullptr;
  int length = LoadStringW(ProviderModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, length) : std::wstring();
}

}  // namespace provider
