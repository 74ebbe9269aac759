#include "profiles.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdlib>

#include <kvcommon/unique_resource.h>

#include "files.h"
#include "text.h"

namespace provider {

const ProfileConfig* ProfilesFile::Find(const std::wstring& name) const {
  for (const ProfileConfig& profile : profiles)
    if (EqualsIgnoreCase(profile.name, name)) return &profile;
  return nullptr;
}

std::wstring ProfilesFilePath() {
  std::wstring value = GetEnvironmentText(kProfilesVariable);
  if (!value.empty()) return value;
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) return L"";
  return std::wstring(appData) + L"\\KV2FOLD\\mapi-profiles.ini";
}

namespace {

enum class Section { None, General, Profile, Store };

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool ParseBool(const std::string& value, bool& out) {
  if (value == "yes" || value == "true" || value == "1") return out = true, true;
  if (value == "no" || value == "false" || value == "0") return out = false, true;
  return false;
}

// A value goes in double quotes when it has spaces at an end, starts with a
// quote or holds a line break; inside them a backslash escapes a backslash, a
// quote, a line feed (\n) or a carriage return (\r).
std::string QuoteIfNeeded(const std::wstring& value) {
  std::string text = ToUtf8(value);
  bool needs = !text.empty() && (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' ||
                                 text.back() == '\t' || text.front() == '"' || text.find_first_of("\r\n") != std::string::npos);
  if (!needs) return text;
  std::string quoted = "\"";
  for (char c : text) {
    switch (c) {
      case '\\': quoted += "\\\\"; break;
      case '"': quoted += "\\\""; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      default: quoted += c;
    }
  }
  return quoted + "\"";
}

// The text of a value as written: quotes taken off and what is escaped
// inside them restored. A backslash before anything else stays: a quoted
// Windows path keeps its backslashes.
std::string Unquote(const std::string& text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return text;
  std::string out;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    const char next = i + 2 < text.size() ? text[i + 1] : '\0';
    if (text[i] == '\\' && (next == '\\' || next == '"' || next == 'n' || next == 'r')) {
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Reads the file line by line into out; each step answers null or the problem.
class ProfilesReader {
 public:
  explicit ProfilesReader(ProfilesFile& out) : out_(out) {}

  const wchar_t* Line(const std::string& line) {
    if (line.empty() || line[0] == ';' || line[0] == '#') return nullptr;
    if (line[0] == '[') return SectionHeader(line);
    size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) return L"a line that is neither a section nor key=value";
    const std::string key = Trim(line.substr(0, equals));
    const std::string text = Unquote(Trim(line.substr(equals + 1)));
    std::wstring value;
    if (!FromUtf8(text, value)) return L"text that is not UTF-8";
    switch (section_) {
      case Section::General: return GeneralValue(key, value);
      case Section::Profile: return ProfileValue(key, value);
      case Section::Store: return StoreValue(key, text, value);
      default: return L"a value outside any section";
    }
  }

 private:
  const wchar_t* SectionHeader(const std::string& line) {
    if (line.back() != ']') return L"a section header lacks its closing bracket";
    const std::string name = Trim(line.substr(1, line.size() - 2));
    if (name == "General") {
      if (generalSeen_) return L"a second [General] section";
      generalSeen_ = true;
      section_ = Section::General;
    } else if (name == "Profile") {
      out_.profiles.emplace_back();
      section_ = Section::Profile;
    } else if (name == "Store") {
      if (out_.profiles.empty()) return L"a [Store] section before any [Profile]";
      out_.profiles.back().stores.emplace_back();
      section_ = Section::Store;
    } else {
      return L"an unknown section";
    }
    return nullptr;
  }

  const wchar_t* GeneralValue(const std::string& key, const std::wstring& value) {
    if (key != "DefaultProfile") return L"an unknown key in [General]";
    out_.defaultProfile = value;
    return nullptr;
  }

  const wchar_t* ProfileValue(const std::string& key, const std::wstring& value) {
    ProfileConfig& profile = out_.profiles.back();
    if (key == "Name") profile.name = value;
    else if (key == "Password") profile.password = value;
    else if (key == "UserName") profile.userName = value;
    else if (key == "UserAddress") profile.userAddress = value;
    else if (key == "DefaultStore") profile.defaultStore = value;
    else return L"an unknown key in [Profile]";
    return nullptr;
  }

  const wchar_t* StoreValue(const std::string& key, const std::string& text, const std::wstring& value) {
    StoreConfig& store = out_.profiles.back().stores.back();
    if (key == "Name") {
      store.name = value;
    } else if (key == "Directory") {
      store.directory = value;
    } else if (key == "Server" || key == "Port" || key == "Security" || key == "User" ||
               key == "Sender" || key == "Root" || key == "CertificatePin" || key == "ProtectedPassword") {
      return ServerValue(store, key, text, value);
    } else if (key == "ReadOnly") {
      if (!ParseBool(text, store.readOnly)) return L"ReadOnly is neither yes nor no";
    } else if (key == "ReadOnlyFolder") {
      if (value.empty()) return L"an empty ReadOnlyFolder";
      store.readOnlyFolders.push_back(value);
    } else {
      return L"an unknown key in [Store]";
    }
    return nullptr;
  }

  const wchar_t* ServerValue(StoreConfig& store, const std::string& key, const std::string& text,
                             const std::wstring& value) {
    ServerConfig& server = store.server;
    if (key == "Server") {
      if (value.empty()) return L"an empty Server";
      store.onServer = true;
      server.host = value;
    } else if (key == "Port") {
      char* end = nullptr;
      const unsigned long port = strtoul(text.c_str(), &end, 10);
      if (text.empty() || *end || port == 0 || port > 65535) return L"Port is not a number from 1 to 65535";
      server.port = static_cast<uint16_t>(port);
    } else if (key == "Security") {
      if (text == "tls") server.security = ServerSecurity::Tls;
      else if (text == "starttls") server.security = ServerSecurity::StartTls;
      else if (text == "none") server.security = ServerSecurity::None;
      else return L"Security is neither tls, starttls nor none";
    } else if (key == "User") {
      server.user = value;
    } else if (key == "Sender") {
      server.sender = value;
    } else if (key == "Root") {
      server.root = value;
    } else if (key == "CertificatePin") {
      server.pin = text;
    } else if (key == "ProtectedPassword") {
      server.protectedPassword = text;
    } else {
      return L"an unknown key in [Store]";
    }
    return nullptr;
  }

  ProfilesFile& out_;
  Section section_ = Section::None;
  bool generalSeen_ = false;
};

// What must hold across the records; null or the problem.
const wchar_t* CheckProfile(const ProfilesFile& file, size_t index) {
  const ProfileConfig& profile = file.profiles[index];
  if (profile.name.empty()) return L"a profile without a Name";
  if (profile.name.find_first_of(L"\r\n") != std::wstring::npos) return L"a profile name with a line break";
  for (size_t j = 0; j < index; ++j)
    if (EqualsIgnoreCase(file.profiles[j].name, profile.name)) return L"two profiles of the same name";
  bool defaultFound = profile.defaultStore.empty();
  for (size_t s = 0; s < profile.stores.size(); ++s) {
    const StoreConfig& store = profile.stores[s];
    if (store.name.empty() || store.directory.empty() == !store.onServer)
      return L"a store without a Name, or without exactly one of Directory and Server";
    if (store.onServer && store.server.user.empty()) return L"a server store without a User";
    for (size_t t = 0; t < s; ++t)
      if (profile.stores[t].name == store.name) return L"two stores of the same name in one profile";
    if (store.name == profile.defaultStore) defaultFound = true;
  }
  return defaultFound ? nullptr : L"a DefaultStore that names no store of its profile";
}

std::string ServerText(const ServerConfig& server) {
  static const char* const kSecurity[] = {"tls", "starttls", "none"};
  std::string text = "Server=" + QuoteIfNeeded(server.host) + "\r\n";
  if (server.port) text += "Port=" + std::to_string(server.port) + "\r\n";
  text += std::string("Security=") + kSecurity[static_cast<int>(server.security)] + "\r\n";
  text += "User=" + QuoteIfNeeded(server.user) + "\r\n";
  if (!server.sender.empty()) text += "Sender=" + QuoteIfNeeded(server.sender) + "\r\n";
  // Always written: an empty root (the user's own folders) is a choice too.
  text += "Root=" + QuoteIfNeeded(server.root) + "\r\n";
  if (!server.pin.empty()) text += "CertificatePin=" + server.pin + "\r\n";
  if (!server.protectedPassword.empty()) text += "ProtectedPassword=" + server.protectedPassword + "\r\n";
  return text;
}

}  // namespace

ProfilesStatus ParseProfiles(const std::string& input, ProfilesFile& out, std::wstring* problem) {
  out = ProfilesFile();
  auto fail = [&](size_t line, const wchar_t* why) {
    if (problem) *problem = L"line " + std::to_wstring(line) + L": " + why;
    out = ProfilesFile();
    return ProfilesStatus::Corrupt;
  };
  std::string bytes = input;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  if (bytes.find('\0') != std::string::npos) return fail(0, L"the file holds NUL bytes");
  ProfilesReader reader(out);
  size_t lineNumber = 0;
  for (size_t pos = 0; pos < bytes.size();) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (const wchar_t* why = reader.Line(Trim(line))) return fail(lineNumber, why);
  }
  for (size_t i = 0; i < out.profiles.size(); ++i)
    if (const wchar_t* why = CheckProfile(out, i)) return fail(0, why);
  if (!out.defaultProfile.empty() && !out.Find(out.defaultProfile))
    return fail(0, L"a DefaultProfile that names no profile");
  return ProfilesStatus::Ok;
}

ProfilesStatus LoadProfiles(const std::wstring& path, ProfilesFile& out, std::wstring* problem) {
  out = ProfilesFile();
  std::string bytes;
  switch (ReadWholeFile(path, bytes)) {
    case FileRead::Ok:
      return ParseProfiles(bytes, out, problem);
    case FileRead::Missing:
      return ProfilesStatus::Missing;
    case FileRead::TooLarge:
      if (problem) *problem = L"the file is too large";
      return ProfilesStatus::Corrupt;
    default:
      return ProfilesStatus::Unreadable;
  }
}

std::string SerializeProfiles(const ProfilesFile& file) {
  std::string text = "; Profiles of the KV2FOLD message stores (MAPI32.DLL), UTF-8.\r\n";
  if (!file.defaultProfile.empty()) text += "[General]\r\nDefaultProfile=" + QuoteIfNeeded(file.defaultProfile) + "\r\n";
  for (const ProfileConfig& profile : file.profiles) {
    text += "\r\n[Profile]\r\nName=" + QuoteIfNeeded(profile.name) + "\r\n";
    if (!profile.password.empty()) text += "Password=" + QuoteIfNeeded(profile.password) + "\r\n";
    if (!profile.userName.empty()) text += "UserName=" + QuoteIfNeeded(profile.userName) + "\r\n";
    if (!profile.userAddress.empty()) text += "UserAddress=" + QuoteIfNeeded(profile.userAddress) + "\r\n";
    if (!profile.defaultStore.empty()) text += "DefaultStore=" + QuoteIfNeeded(profile.defaultStore) + "\r\n";
    for (const StoreConfig& store : profile.stores) {
      text += "\r\n[Store]\r\nName=" + QuoteIfNeeded(store.name) + "\r\n";
      if (store.onServer) text += ServerText(store.server);
      else text += "Directory=" + QuoteIfNeeded(store.directory) + "\r\n";
      if (store.readOnly) text += "ReadOnly=yes\r\n";
      for (const std::wstring& folder : store.readOnlyFolders) text += "ReadOnlyFolder=" + QuoteIfNeeded(folder) + "\r\n";
    }
  }
  return text;
}

bool SaveProfiles(const std::wstring& path, const ProfilesFile& file) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && !CreateDirectoryTree(path.substr(0, slash))) return false;
  return WriteFileAtomically(path, SerializeProfiles(file));
}

std::wstring ResolveStoreDirectory(const std::wstring& profilesPath, const std::wstring& directory) {
  bool absolute = (directory.size() >= 2 && directory[1] == L':') ||
                  (!directory.empty() && (directory[0] == L'\\' || directory[0] == L'/'));
  std::wstring combined = directory;
  if (!absolute) {
    size_t slash = profilesPath.find_last_of(L"\\/");
    std::wstring base = slash == std::wstring::npos ? L"." : profilesPath.substr(0, slash);
    combined = base + L"\\" + directory;
  }
  wchar_t full[MAX_PATH * 4];
  DWORD length = GetFullPathNameW(combined.c_str(), MAX_PATH * 4, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 4) return combined;
  return std::wstring(full, length);
}

}  // namespace provider
