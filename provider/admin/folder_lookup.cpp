#include "folder_lookup.h"

namespace provider {
namespace admin {

bool FindStore(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& folderPath,
               std::unique_ptr<StoreLayout>& store, std::wstring& error) {
  ProfilesFile file;
  std::wstring problem;
  ProfilesStatus status = LoadProfiles(profilesPath, file, &problem);
  if (status != ProfilesStatus::Ok) {
    error = status == ProfilesStatus::Missing ? L"no profiles file at " + profilesPath
                                              : L"the profiles file " + profilesPath + L" cannot be read: " + problem;
    return false;
  }
  const std::wstring wanted = profileName.empty() ? file.defaultProfile : profileName;
  const ProfileConfig* profile = file.Find(wanted);
  if (!profile) {
    error = wanted.empty() ? L"no default profile: name one with --profile" : L"no profile " + wanted;
    return false;
  }
  const std::wstring storeName = folderPath.substr(0, folderPath.find(L'#'));
  const StoreConfig* config = nullptr;
  for (const StoreConfig& candidate : profile->stores)
    if (candidate.name == storeName) config = &candidate;
  if (!config) {
    error = L"profile " + profile->name + L" has no store " + storeName;
    return false;
  }
  if (config->onServer) {
    error = L"store " + storeName + L" is on a server: list shows its folders, a mail client its messages";
    return false;
  }
  StoreResult result = StoreLayout::Open(ResolveStoreDirectory(profilesPath, config->directory), store);
  if (result != StoreResult::Ok) {
    error = L"store " + storeName + (result == StoreResult::NotFound ? L" does not exist in " : L" cannot be read in ") +
            ResolveStoreDirectory(profilesPath, config->directory);
    return false;
  }
  return true;
}

bool FindFolder(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& folderPath,
                std::unique_ptr<StoreLayout>& store, FolderRecord& folder, std::wstring& error) {
  if (!FindStore(profilesPath, profileName, folderPath, store, error)) return false;
  const size_t hash = folderPath.find(L'#');
  StoreResult result = store->FindByPath(hash == std::wstring::npos ? L"" : folderPath.substr(hash + 1), folder);
  if (result != StoreResult::Ok) {
    error = L"folder " + folderPath + (result == StoreResult::NotFound ? L" does not exist" : L" cannot be read");
    return false;
  }
  return true;
}

}  // namespace admin
}  // namespace provider
