// What kvmapi-admin does, as a library: the tests and the demo build their
// profiles with it.
#pragma once

#include <string>
#include <vector>

#include "profiles.h"

namespace provider {
namespace admin {

struct ProfileRequest {
  ProfileConfig profile;  // name, password, user, stores, default store
  bool makeDefault = false;
  // Folders to create, each "Store#Folder#Subfolder" (display names; the
  // store's name first). Parents are created as needed; existing ones are kept.
  std::vector<std::wstring> folders;
  // Folders to mark read-only, in the same form.
  std::vector<std::wstring> readOnlyFolders;
};

// Adds the profile to the profiles file (replacing one of the same name),
// creates its stores on disk and the requested folders.
bool CreateProfile(const std::wstring& profilesPath, const ProfileRequest& request, std::wstring& error);

// A readable listing of a profile (or of every profile): stores, whether each
// is the default or read-only, and the folder tree with message counts.
bool ListProfiles(const std::wstring& profilesPath, const std::wstring& profileName, std::wstring& listing,
                  std::wstring& error);

}  // namespace admin
}  // namespace provider
