// The profiles file: a UTF-8 INI text that names the profiles a user can log
// on to, their message stores (display name and directory each) and the
// identity of the user. The provider reads it at every logon; the admin tool
// writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace provider {

enum class ServerSecurity { Tls, StartTls, None };

// A store whose folders and messages live on an IMAP server.
struct ServerConfig {
  std::wstring host;
  uint16_t port = 0;  // 0: 993 for Tls, 143 otherwise
  ServerSecurity security = ServerSecurity::Tls;
  std::wstring user;
  std::wstring sender;  // the From address; empty: the profile's user address
  // The server folder the store shows below its top of information store,
  // e.g. "Team/" for the public Team namespace; empty for the user's own folders.
  std::wstring root;
  std::string pin;  // hex SHA-256 of the server's certificate; empty: the chain of trust decides
  // The password, protected with CryptProtectData for the user (base64);
  // empty: the logon's password is the only one.
  std::string protectedPassword;

  uint16_t EffectivePort() const { return port ? port : security == ServerSecurity::Tls ? 993 : 143; }
};

struct StoreConfig {
  std::wstring name;       // display name, unique in its profile
  std::wstring directory;  // absolute, or relative to the profiles file's folder; empty on a server
  bool onServer = false;
  ServerConfig server;
  bool readOnly = false;
  // Folders below the top of information store that MAPI opens read-only,
  // each as display names joined by "#".
  std::vector<std::wstring> readOnlyFolders;
};

struct ProfileConfig {
  std::wstring name;
  std::wstring password;  // empty: the profile has no password
  std::wstring userName;
  std::wstring userAddress;   // optional; the user name stands in for it
  std::wstring defaultStore;  // optional; names one of the stores
  std::vector<StoreConfig> stores;
};

struct ProfilesFile {
  std::wstring defaultProfile;  // optional
  std::vector<ProfileConfig> profiles;

  const ProfileConfig* Find(const std::wstring& name) const;  // case-insensitive, as MAPI profiles are
};

enum class ProfilesStatus { Ok, Missing, Corrupt, Unreadable };

// Where the profiles file is: %KV_MAPI_PROFILES% when set, else
// %APPDATA%\KV2FOLD\mapi-profiles.ini.
std::wstring ProfilesFilePath();
constexpr const wchar_t* kProfilesVariable = L"KV_MAPI_PROFILES";

// Parses the text of a profiles file. On Corrupt, problem says which line and why.
ProfilesStatus ParseProfiles(const std::string& bytes, ProfilesFile& out, std::wstring* problem);
ProfilesStatus LoadProfiles(const std::wstring& path, ProfilesFile& out, std::wstring* problem);
std::string SerializeProfiles(const ProfilesFile& file);
// Writes beside the target and moves into place, so readers never see half a file.
bool SaveProfiles(const std::wstring& path, const ProfilesFile& file);

// A store directory as the provider uses it: relative ones are taken from the
// profiles file's folder.
std::wstring ResolveStoreDirectory(const std::wstring& profilesPath, const std::wstring& directory);

}  // namespace provider
