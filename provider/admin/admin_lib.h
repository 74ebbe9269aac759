// What kvmapi-admin does, as a library: the tests and the demo build their
// profiles with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "folder_index.h"
#include "folder_repair.h"
#include "profiles.h"

namespace provider {
namespace admin {

struct ProfileRequest {
  // name, password, user, stores, default store. A profile with a store on a
  // server keeps no password of its own: its server judges the logon's.
  ProfileConfig profile;
  // Logs on to the profile's server stores to create their folders; kept
  // in the profile, protected for the user (ServerConfig::protectedPassword),
  // when rememberServerPassword.
  std::wstring serverPassword;
  bool rememberServerPassword = false;
  bool makeDefault = false;
  // Folders to create, each "Store#Folder#Subfolder" (display names; the
  // store's name first). Parents are created as needed; existing ones are kept.
  std::vector<std::wstring> folders;
  // Folders to mark read-only, in the same form.
  std::vector<std::wstring> readOnlyFolders;
};

// Adds the profile to the profiles file (replacing one of the same name),
// creates its stores on disk and the requested folders (on disk or on the
// server).
bool CreateProfile(const std::wstring& profilesPath, const ProfileRequest& request, std::wstring& error);

// A readable listing of a profile (or of every profile): stores, whether each
// is the default or read-only, and the folder tree with message counts, from
// the disk or from the server (logged on with serverPassword, else the one
// the profile keeps).
bool ListProfiles(const std::wstring& profilesPath, const std::wstring& profileName, std::wstring& listing,
                  std::wstring& error, const std::wstring& serverPassword = L"");

// One message of a folder as the admin tool shows it: from the folder's index
// (class, subject, display name) and from its file (the attachments).
struct AttachmentSummary {
  std::wstring name;   // long file name, else short file name, else display name
  uint64_t size = 0;   // bytes of the attachment's data
};
struct MessageSummary {
  std::wstring id;  // 32 hexadecimal digits
  bool associated = false;
  std::wstring messageClass;
  std::wstring subject;
  std::wstring displayName;
  std::vector<AttachmentSummary> attachments;
  std::wstring problem;  // set when the message's file cannot be read
};

// The messages of the folder at "Store#Folder#Subfolder" in a profile (the
// default profile when profileName is empty), in the order they were saved.
// damage receives what the index held that is not a message line.
bool ListMessages(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& folderPath,
                  std::vector<MessageSummary>& messages, std::wstring& error, IndexDamage* damage = nullptr);
std::wstring FormatMessages(const std::wstring& folderPath, const std::vector<MessageSummary>& messages,
                            const IndexDamage& damage = IndexDamage());

// Puts right one folder ("Store#Folder", "Store" for its top of information
// store), or with allFolders every folder of the store the path starts with:
// see RepairFolder. Nothing is changed in a folder that is sound.
struct FolderRepair {
  std::wstring path;
  StoreResult result = StoreResult::Ok;
  RepairReport report;
};
bool RepairFolders(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& path,
                   bool allFolders, std::vector<FolderRepair>& repairs, std::wstring& error);
std::wstring FormatRepairs(const std::vector<FolderRepair>& repairs);

// Copies the data of a message's attachment (numbered from 1 in the listing)
// to outputPath, which is replaced only once the copy is complete. message
// is the id from the listing or any prefix of it that names one message.
bool ExtractAttachment(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& folderPath,
                       const std::wstring& message, unsigned attachment, const std::wstring& outputPath,
                       uint64_t& bytesWritten, std::wstring& error);

}  // namespace admin
}  // namespace provider
