#include "admin_lib.h"

#include <mapitags.h>

#include <algorithm>
#include <memory>

#include "directory_store.h"
#include "folder_index.h"
#include "protected_text.h"
#include "server_store.h"
#include "store_layout.h"

namespace provider {
namespace admin {
namespace {

std::vector<std::wstring> SplitPath(const std::wstring& path) {
  std::vector<std::wstring> parts;
  size_t pos = 0;
  for (;;) {
    size_t end = path.find(L'#', pos);
    parts.push_back(path.substr(pos, end == std::wstring::npos ? std::wstring::npos : end - pos));
    if (end == std::wstring::npos) break;
    pos = end + 1;
  }
  return parts;
}

const wchar_t* ResultText(StoreResult result) {
  switch (result) {
    case StoreResult::NotFound: return L"not created yet";
    case StoreResult::Corrupt: return L"damaged, or the directory holds other files";
    case StoreResult::Collision: return L"a folder of that name exists";
    case StoreResult::InvalidName: return L"the name is not valid (on a server: it holds the server's separator)";
    case StoreResult::NoAccess: return L"the server does not allow it";
    case StoreResult::LogonFailed: return L"the server refused the user or password, or its certificate was refused";
    case StoreResult::NetworkError: return L"the server cannot be reached";
    default: return L"cannot be read or written";
  }
}

// The messages of a listing, subjects (report names for associated ones).
void ListMessages(MessageStore& store, const StoreFolder& folder, bool associated, size_t indent, std::wstring& out) {
  std::unique_ptr<MessageList> messages;
  if (store.OpenMessages(folder, associated, messages) != StoreResult::Ok) return;
  IndexEntry entry;
  for (size_t i = 0; i < messages->Count(); ++i) {
    if (messages->Read(i, entry) != StoreResult::Ok) continue;
    const std::string id = ObjectIdText(entry.id);
    std::wstring subject(id.begin(), id.end());
    for (const Value& value : entry.properties)
      if (value.tag == PR_SUBJECT_W || (associated && value.tag == PR_DISPLAY_NAME_W)) subject = value.text;
    out += std::wstring(indent, L' ') + (associated ? L"(associated) " : L"- ") + subject + L"\n";
  }
}

void ListFolder(MessageStore& store, const StoreFolder& folder, int depth, std::wstring& out) {
  std::vector<StoreFolder> children;
  if (store.Children(folder, children) != StoreResult::Ok) {
    out += std::wstring(static_cast<size_t>(depth) * 2, L' ') + L"(folders cannot be read)\n";
    return;
  }
  for (const StoreFolder& child : children) {
    FolderCounts counts = child.counts;
    if (!child.countsKnown) store.Counts(child, counts);
    out += std::wstring(static_cast<size_t>(depth) * 2, L' ') + child.name + L"  [" + std::to_wstring(counts.contents) +
           L" messages, " + std::to_wstring(counts.associated) + L" associated]\n";
    const size_t indent = static_cast<size_t>(depth + 1) * 2;
    if (counts.contents > 0) ListMessages(store, child, false, indent, out);
    if (counts.associated > 0) ListMessages(store, child, true, indent, out);
    ListFolder(store, child, depth + 1, out);
  }
}

std::wstring ServerText(const ServerConfig& server) {
  static const wchar_t* const kSecurity[] = {L"tls", L"starttls", L"none"};
  return server.user + L"@" + server.host + L":" + std::to_wstring(server.EffectivePort()) + L" (" +
         kSecurity[static_cast<int>(server.security)] + L"), folder \"" + server.root + L"\"";
}

// The folder at parts[1...] below the top of information store, made where missing.
StoreResult CreatePath(MessageStore& store, const std::vector<std::wstring>& parts) {
  StoreFolder current;
  StoreResult result = store.Find(store.ipmSubtreeId(), current);
  for (size_t i = 1; i < parts.size() && result == StoreResult::Ok; ++i) {
    StoreFolder child;
    result = store.CreateFolder(current, parts[i], L"", true, child);
    current = std::move(child);
  }
  return result;
}

}  // namespace

namespace {

// The request's read-only folders ("Store#Folder#...") given to their stores.
bool MarkReadOnlyFolders(const ProfileRequest& request, ProfileConfig& profile, std::wstring& error) {
  for (const std::wstring& marked : request.readOnlyFolders) {
    std::vector<std::wstring> parts = SplitPath(marked);
    StoreConfig* store = nullptr;
    for (StoreConfig& candidate : profile.stores)
      if (candidate.name == parts[0]) store = &candidate;
    if (!store || parts.size() < 2) {
      error = L"read-only folder " + marked + L" does not name a store of the profile and a folder";
      return false;
    }
    store->readOnlyFolders.push_back(marked.substr(parts[0].size() + 1));
  }
  return true;
}

// Every folder to create starts with a store of the profile.
bool FoldersNameStores(const ProfileRequest& request, const ProfileConfig& profile, std::wstring& error) {
  for (const std::wstring& path : request.folders) {
    const std::wstring storeName = SplitPath(path)[0];
    bool known = false;
    for (const StoreConfig& config : profile.stores) known = known || config.name == storeName;
    if (!known) {
      error = L"folder " + path + L" does not start with a store of the profile";
      return false;
    }
  }
  return true;
}

// The profile put into the file (replacing one of its name), and the whole
// file checked before anything is written.
bool PutProfile(ProfilesFile& file, const ProfileConfig& profile, bool makeDefault, std::wstring& error) {
  bool replaced = false;
  for (ProfileConfig& existing : file.profiles) {
    if (file.Find(profile.name) == &existing) {
      existing = profile;
      replaced = true;
      break;
    }
  }
  if (!replaced) file.profiles.push_back(profile);
  if (makeDefault) file.defaultProfile = profile.name;
  ProfilesFile check;
  std::wstring problem;
  if (ParseProfiles(SerializeProfiles(file), check, &problem) != ProfilesStatus::Ok) {
    error = L"the profile is not valid: " + problem;
    return false;
  }
  return true;
}

// A server store's request: its folders made on the server.
bool CreateServerFolders(const StoreConfig& config, const std::wstring& password,
                         const std::vector<std::wstring>& folders, std::wstring& error) {
  // Only folders to make take the server: a profile is written while it is away too.
  if (std::none_of(folders.begin(), folders.end(),
                   [&](const std::wstring& path) { return SplitPath(path)[0] == config.name; }))
    return true;
  std::unique_ptr<MessageStore> store;
  StoreResult result = OpenServerStore(config.server, ServerLogon{password, L"", L""}, store);
  for (const std::wstring& path : folders) {
    std::vector<std::wstring> parts = SplitPath(path);
    if (parts[0] != config.name || result != StoreResult::Ok) continue;
    result = CreatePath(*store, parts);
    if (result != StoreResult::Ok) {
      error = L"folder " + path + L": " + ResultText(result);
      return false;
    }
  }
  if (result != StoreResult::Ok) {
    error = L"store " + config.name + L" on " + ServerText(config.server) + L": " + ResultText(result);
    return false;
  }
  return true;
}

// The profile's stores, and the request's folders in them.
bool CreateStoresAndFolders(const std::wstring& profilesPath, const ProfileConfig& profile,
                            const std::vector<std::wstring>& folders, const std::wstring& serverPassword,
                            std::wstring& error) {
  for (const StoreConfig& config : profile.stores) {
    if (config.onServer) {
      if (!CreateServerFolders(config, serverPassword, folders, error)) return false;
      continue;
    }
    std::unique_ptr<StoreLayout> store;
    StoreResult result = StoreLayout::OpenOrCreate(ResolveStoreDirectory(profilesPath, config.directory), store);
    if (result != StoreResult::Ok) {
      error = L"store " + config.name + L" in " + config.directory + L": " + ResultText(result);
      return false;
    }
    for (const std::wstring& path : folders) {
      std::vector<std::wstring> parts = SplitPath(path);
      if (parts[0] != config.name) continue;
      FolderRecord current;
      result = store->Find(store->ipmSubtreeId(), current);
      for (size_t i = 1; i < parts.size() && result == StoreResult::Ok; ++i) {
        FolderRecord child;
        result = store->CreateFolder(current, parts[i], L"", true, child);
        current = std::move(child);
      }
      if (result != StoreResult::Ok) {
        error = L"folder " + path + L": " + ResultText(result);
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool CreateProfile(const std::wstring& profilesPath, const ProfileRequest& request, std::wstring& error) {
  if (request.profile.name.empty()) {
    error = L"the profile needs a name";
    return false;
  }
  ProfilesFile file;
  std::wstring problem;
  ProfilesStatus status = LoadProfiles(profilesPath, file, &problem);
  if (status == ProfilesStatus::Corrupt || status == ProfilesStatus::Unreadable) {
    error = L"the profiles file " + profilesPath + L" cannot be read: " + problem;
    return false;
  }
  ProfileConfig profile = request.profile;
  bool onServer = false;
  for (StoreConfig& store : profile.stores) {
    if (!store.onServer) continue;
    onServer = true;
    if (request.rememberServerPassword && !ProtectText(request.serverPassword, store.server.protectedPassword)) {
      error = L"the password cannot be protected for this user";
      return false;
    }
  }
  if (onServer) profile.password.clear();  // never in plain text: the server judges the logon's
  if (!MarkReadOnlyFolders(request, profile, error) || !FoldersNameStores(request, profile, error) ||
      !PutProfile(file, profile, request.makeDefault, error)) {
    return false;
  }
  // Stores and folders next, so that a failure leaves the profiles file as it was.
  if (!CreateStoresAndFolders(profilesPath, profile, request.folders, request.serverPassword, error)) return false;
  if (!SaveProfiles(profilesPath, file)) {
    error = L"cannot write " + profilesPath;
    return false;
  }
  return true;
}

bool ListProfiles(const std::wstring& profilesPath, const std::wstring& profileName, std::wstring& listing,
                  std::wstring& error, const std::wstring& serverPassword) {
  ProfilesFile file;
  std::wstring problem;
  ProfilesStatus status = LoadProfiles(profilesPath, file, &problem);
  if (status == ProfilesStatus::Missing) {
    listing = L"No profiles file at " + profilesPath + L"\n";
    return true;
  }
  if (status != ProfilesStatus::Ok) {
    error = L"the profiles file " + profilesPath + L" cannot be read: " + problem;
    return false;
  }
  bool any = false;
  listing.clear();
  for (const ProfileConfig& profile : file.profiles) {
    if (!profileName.empty() && file.Find(profileName) != &profile) continue;
    any = true;
    listing += L"Profile " + profile.name + (profile.name == file.defaultProfile ? L" (default)" : L"") +
               L", user " + (profile.userName.empty() ? profile.name : profile.userName) + L"\n";
    for (const StoreConfig& config : profile.stores) {
      std::wstring directory = ResolveStoreDirectory(profilesPath, config.directory);
      listing += L"  Store " + config.name + (config.name == profile.defaultStore ? L" (default)" : L"") +
                 (config.readOnly ? L" (read-only)" : L"") +
                 (config.onServer ? L" on " + ServerText(config.server) : L" in " + directory) + L"\n";
      std::unique_ptr<MessageStore> store;
      // Listing never creates a store.
      StoreResult result = config.onServer
                               ? OpenServerStore(config.server, ServerLogon{serverPassword, L"", L""}, store)
                               : DirectoryStore::Open(directory, store);
      StoreFolder top;
      if (result == StoreResult::Ok) result = store->Find(store->ipmSubtreeId(), top);
      if (result != StoreResult::Ok) {
        listing += std::wstring(L"    (") + ResultText(result) + L")\n";
        continue;
      }
      ListFolder(*store, top, 2, listing);
    }
  }
  if (!any && !profileName.empty()) {
    error = L"no profile " + profileName;
    return false;
  }
  return true;
}

}  // namespace admin
}  // namespace provider
