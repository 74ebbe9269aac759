// How the admin tool finds a store and a folder of a profile by name, the
// way a user writes them: "Store#Folder#Subfolder".
#pragma once

#include <memory>
#include <string>

#include "profiles.h"
#include "store_layout.h"

namespace provider {
namespace admin {

// The store a path starts with, in a profile (the default profile when
// profileName is empty), opened without creating anything.
bool FindStore(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& folderPath,
               std::unique_ptr<StoreLayout>& store, std::wstring& error);
// The folder the rest of the path names below the store's top of
// information store (the top itself when the path is the store's name alone).
bool FindFolder(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& folderPath,
                std::unique_ptr<StoreLayout>& store, FolderRecord& folder, std::wstring& error);

}  // namespace admin
}  // namespace provider
