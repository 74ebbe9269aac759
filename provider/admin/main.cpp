// kvmapi-admin: sets up and shows the profiles of the message stores (on disk
// and on IMAP servers), and repairs the folders of stores on disk.
#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "admin_lib.h"
#include "text.h"

namespace {

void Write(HANDLE handle, const std::wstring& text) {
  std::string utf8 = provider::ToUtf8(text);
  DWORD written = 0;
  WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// Usage text: the tool's own, in English, like its option names.
const wchar_t kUsage[] =
    L"Usage:\n"
    L"  kvmapi-admin create-profile NAME --store STORE=DIRECTORY [--store ...]\n"
    L"      [--server STORE=HOST[:PORT] --login USER [--security tls|starttls|none] [--root SERVER-FOLDER]\n"
    L"       [--sender ADDRESS] [--pin SHA256] [--remember-password] ...]\n"
    L"      [--password PASSWORD] [--user DISPLAY-NAME] [--address ADDRESS] [--default]\n"
    L"      [--default-store STORE] [--read-only-store STORE]\n"
    L"      [--folder STORE#FOLDER#SUBFOLDER ...] [--read-only-folder STORE#FOLDER ...]\n"
    L"      [--profiles FILE]\n"
    L"      --server makes a store on an IMAP server (tls on 993 unless told otherwise); the options after it\n"
    L"      are its own. With a server store --password is the server's: it creates the folders there and is\n"
    L"      kept only with --remember-password, protected for this Windows user (CryptProtectData)\n"
    L"  kvmapi-admin list [PROFILE] [--password PASSWORD] [--profiles FILE]\n"
    L"  kvmapi-admin messages STORE#FOLDER [--profile PROFILE] [--profiles FILE]\n"
    L"  kvmapi-admin extract STORE#FOLDER MESSAGE-ID ATTACHMENT OUTPUT-FILE [--profile PROFILE] [--profiles FILE]\n"
    L"      MESSAGE-ID as listed by messages (or a prefix naming one message); ATTACHMENT counts from 1\n"
    L"  kvmapi-admin repair STORE[#FOLDER] [--all] [--profile PROFILE] [--profiles FILE]\n"
    L"      puts a folder (STORE alone: its top of information store; --all: every folder of the store)\n"
    L"      right against its message files: rebuilds a damaged index from them, adds messages it lacks,\n"
    L"      drops lines of messages whose file is gone, deletes .tmp files no process holds;\n"
    L"      exit code 0 when every folder is sound afterwards\n"
    L"  kvmapi-admin where\n"
    L"The profiles file is %KV_MAPI_PROFILES%, else %APPDATA%\\KV2FOLD\\mapi-profiles.ini.\n";

struct Options {
  std::wstring command;
  std::wstring profilesPath;
  std::wstring profileName;
  std::vector<std::wstring> positional;
  std::vector<std::wstring> readOnlyStores;
  bool allFolders = false;
  provider::admin::ProfileRequest request;
};

HANDLE Out() { return GetStdHandle(STD_OUTPUT_HANDLE); }
HANDLE Err() { return GetStdHandle(STD_ERROR_HANDLE); }

int Fail(const std::wstring& error) {
  Write(Err(), L"kvmapi-admin: " + error + L"\n");
  return 1;
}

int UsageError(const std::wstring& problem) {
  Write(Err(), problem.empty() ? std::wstring(kUsage) : L"kvmapi-admin: " + problem + L"\n");
  return 2;
}

// "HOST[:PORT]" of --server; false for a port that is no number from 1 to 65535.
bool ParseServer(const std::wstring& text, provider::ServerConfig& server) {
  const size_t colon = text.rfind(L':');
  server.host = text.substr(0, colon);
  if (colon == std::wstring::npos) return !server.host.empty();
  wchar_t* end = nullptr;
  const unsigned long port = wcstoul(text.c_str() + colon + 1, &end, 10);
  server.port = static_cast<uint16_t>(port);
  return !server.host.empty() && colon + 1 < text.size() && *end == L'\0' && port > 0 && port <= 65535;
}

// An option of the --server store named last.
bool TakeServerOption(const std::wstring& name, const std::wstring& value, Options& options, std::wstring& problem) {
  std::vector<provider::StoreConfig>& stores = options.request.profile.stores;
  if (stores.empty() || !stores.back().onServer) return problem = name + L" belongs after --server", false;
  provider::ServerConfig& server = stores.back().server;
  if (name == L"--login") server.user = value;
  else if (name == L"--sender") server.sender = value;
  else if (name == L"--root") server.root = value;
  else if (name == L"--pin") server.pin = provider::ToUtf8(value);
  else if (value == L"tls") server.security = provider::ServerSecurity::Tls;
  else if (value == L"starttls") server.security = provider::ServerSecurity::StartTls;
  else if (value == L"none") server.security = provider::ServerSecurity::None;
  else return problem = L"--security takes tls, starttls or none", false;
  return true;
}

// One option with its value; false with a problem for the user.
bool TakeOption(const std::wstring& name, const std::wstring& value, Options& options, std::wstring& problem) {
  if (name == L"--profiles") options.profilesPath = value;
  else if (name == L"--profile") options.profileName = value;
  else if (name == L"--password") options.request.profile.password = options.request.serverPassword = value;
  else if (name == L"--user") options.request.profile.userName = value;
  else if (name == L"--address") options.request.profile.userAddress = value;
  else if (name == L"--default-store") options.request.profile.defaultStore = value;
  else if (name == L"--read-only-store") options.readOnlyStores.push_back(value);
  else if (name == L"--folder") options.request.folders.push_back(value);
  else if (name == L"--read-only-folder") options.request.readOnlyFolders.push_back(value);
  else if (name == L"--login" || name == L"--sender" || name == L"--root" || name == L"--pin" || name == L"--security")
    return TakeServerOption(name, value, options, problem);
  else if (name == L"--server") {
    const size_t equals = value.find(L'=');
    provider::StoreConfig store;
    store.onServer = true;
    if (equals == std::wstring::npos || equals == 0 || !ParseServer(value.substr(equals + 1), store.server))
      return problem = L"--server takes STORE=HOST or STORE=HOST:PORT", false;
    store.name = value.substr(0, equals);
    options.request.profile.stores.push_back(store);
  } else if (name == L"--store") {
    const size_t equals = value.find(L'=');
    if (equals == std::wstring::npos || equals == 0) return problem = L"--store takes STORE=DIRECTORY", false;
    provider::StoreConfig store;
    store.name = value.substr(0, equals);
    store.directory = value.substr(equals + 1);
    options.request.profile.stores.push_back(store);
  } else {
    return problem = L"unknown option " + name, false;
  }
  return true;
}

bool ParseOptions(const std::vector<std::wstring>& args, Options& options, std::wstring& problem) {
  options.command = args[0];
  options.profilesPath = provider::ProfilesFilePath();
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (arg.compare(0, 2, L"--") != 0) {
      options.positional.push_back(arg);
    } else if (arg == L"--default") {
      options.request.makeDefault = true;
    } else if (arg == L"--all") {
      options.allFolders = true;
    } else if (arg == L"--remember-password") {
      options.request.rememberServerPassword = true;
    } else if (i + 1 >= args.size()) {
      return problem = arg + L" needs a value", false;
    } else if (!TakeOption(arg, args[++i], options, problem)) {
      return false;
    }
  }
  return true;
}

std::wstring First(const Options& options) { return options.positional.empty() ? L"" : options.positional[0]; }

int Where(const Options& options) {
  Write(Out(), options.profilesPath + L"\n");
  return 0;
}

int List(const Options& options) {
  std::wstring listing, error;
  if (!provider::admin::ListProfiles(options.profilesPath, First(options), listing, error,
                                     options.request.serverPassword))
    return Fail(error);
  Write(Out(), listing);
  return 0;
}

int CreateProfile(const Options& options) {
  provider::admin::ProfileRequest request = options.request;
  request.profile.name = First(options);
  for (const std::wstring& name : options.readOnlyStores) {
    bool found = false;
    for (provider::StoreConfig& store : request.profile.stores)
      if (store.name == name) store.readOnly = found = true;
    if (!found) return UsageError(L"--read-only-store " + name + L" names no --store");
  }
  std::wstring error;
  if (!provider::admin::CreateProfile(options.profilesPath, request, error)) return Fail(error);
  Write(Out(), L"Profile " + request.profile.name + L" written to " + options.profilesPath + L"\n");
  return 0;
}

int Messages(const Options& options) {
  std::vector<provider::admin::MessageSummary> messages;
  provider::IndexDamage damage;
  std::wstring error;
  if (!provider::admin::ListMessages(options.profilesPath, options.profileName, First(options), messages, error, &damage))
    return Fail(error);
  Write(Out(), provider::admin::FormatMessages(First(options), messages, damage));
  return 0;
}

int Extract(const Options& options) {
  const std::vector<std::wstring>& positional = options.positional;
  wchar_t* end = nullptr;
  const unsigned long attachment = wcstoul(positional[2].c_str(), &end, 10);
  if (positional[2].empty() || *end != L'\0') return UsageError(L"ATTACHMENT is a number, counted from 1");
  uint64_t bytes = 0;
  std::wstring error;
  if (!provider::admin::ExtractAttachment(options.profilesPath, options.profileName, positional[0], positional[1],
                                          static_cast<unsigned>(attachment), positional[3], bytes, error))
    return Fail(error);
  Write(Out(), std::to_wstring(bytes) + L" bytes written to " + positional[3] + L"\n");
  return 0;
}

int Repair(const Options& options) {
  std::vector<provider::admin::FolderRepair> repairs;
  std::wstring error;
  if (!provider::admin::RepairFolders(options.profilesPath, options.profileName, First(options), options.allFolders,
                                      repairs, error))
    return Fail(error);
  Write(Out(), provider::admin::FormatRepairs(repairs));
  for (const provider::admin::FolderRepair& repair : repairs)
    if (repair.result != provider::StoreResult::Ok || repair.report.unreadableFiles > 0) return 1;
  return 0;
}

struct Command {
  const wchar_t* name;
  size_t fewest, most;  // positional arguments
  int (*run)(const Options&);
};
const Command kCommands[] = {
    {L"where", 0, 0, Where},           {L"list", 0, 1, List},         {L"create-profile", 1, 1, CreateProfile},
    {L"messages", 1, 1, Messages},     {L"extract", 4, 4, Extract},   {L"repair", 1, 1, Repair},
};

int Run(const std::vector<std::wstring>& args) {
  if (args.empty()) return UsageError(L"");
  Options options;
  std::wstring problem;
  if (!ParseOptions(args, options, problem)) return UsageError(problem);
  for (const Command& command : kCommands) {
    if (options.command != command.name) continue;
    if (options.positional.size() < command.fewest || options.positional.size() > command.most) return UsageError(L"");
    return command.run(options);
  }
  return UsageError(L"");
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return 2;
  std::vector<std::wstring> args;
  for (int i = 1; i < count; ++i) args.push_back(argv[i]);
  LocalFree(argv);
  try {
    return Run(args);
  } catch (...) {
    return 3;
  }
}
