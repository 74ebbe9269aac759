// kvmapi-admin: sets up and shows the profiles of the local message store.
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
    L"      [--password PASSWORD] [--user DISPLAY-NAME] [--address ADDRESS] [--default]\n"
    L"      [--default-store STORE] [--read-only-store STORE]\n"
    L"      [--folder STORE#FOLDER#SUBFOLDER ...] [--read-only-folder STORE#FOLDER ...]\n"
    L"      [--profiles FILE]\n"
    L"  kvmapi-admin list [PROFILE] [--profiles FILE]\n"
    L"  kvmapi-admin messages STORE#FOLDER [--profile PROFILE] [--profiles FILE]\n"
    L"  kvmapi-admin extract STORE#FOLDER MESSAGE-ID ATTACHMENT OUTPUT-FILE [--profile PROFILE] [--profiles FILE]\n"
    L"      MESSAGE-ID as listed by messages (or a prefix naming one message); ATTACHMENT counts from 1\n"
    L"  kvmapi-admin where\n"
    L"The profiles file is %KV_MAPI_PROFILES%, else %APPDATA%\\KV2FOLD\\mapi-profiles.ini.\n";

int Run(const std::vector<std::wstring>& args) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (args.empty()) {
    Write(err, kUsage);
    return 2;
  }
  std::wstring command = args[0];
  std::wstring profilesPath = provider::ProfilesFilePath();
  provider::admin::ProfileRequest request;
  std::vector<std::wstring> positional;
  std::wstring profileName;
  std::vector<std::wstring> readOnlyStores;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    auto next = [&](std::wstring& value) {
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    std::wstring value;
    if (arg == L"--default") {
      request.makeDefault = true;
    } else if (arg.compare(0, 2, L"--") == 0 && !next(value)) {
      Write(err, L"kvmapi-admin: " + arg + L" needs a value\n");
      return 2;
    } else if (arg == L"--profiles") {
      profilesPath = value;
    } else if (arg == L"--profile") {
      profileName = value;
    } else if (arg == L"--password") {
      request.profile.password = value;
    } else if (arg == L"--user") {
      request.profile.userName = value;
    } else if (arg == L"--address") {
      request.profile.userAddress = value;
    } else if (arg == L"--default-store") {
      request.profile.defaultStore = value;
    } else if (arg == L"--read-only-store") {
      readOnlyStores.push_back(value);
    } else if (arg == L"--folder") {
      request.folders.push_back(value);
    } else if (arg == L"--read-only-folder") {
      request.readOnlyFolders.push_back(value);
    } else if (arg == L"--store") {
      size_t equals = value.find(L'=');
      if (equals == std::wstring::npos || equals == 0) {
        Write(err, L"kvmapi-admin: --store takes STORE=DIRECTORY\n");
        return 2;
      }
      provider::StoreConfig store;
      store.name = value.substr(0, equals);
      store.directory = value.substr(equals + 1);
      request.profile.stores.push_back(store);
    } else if (arg.compare(0, 2, L"--") == 0) {
      Write(err, L"kvmapi-admin: unknown option " + arg + L"\n");
      return 2;
    } else {
      positional.push_back(arg);
    }
  }
  const size_t wantedPositionals = command == L"create-profile" || command == L"messages" ? 1
                                   : command == L"extract"                              ? 4
                                                                                        : 0;
  const bool optionalOne = command == L"list";
  if (positional.size() != wantedPositionals && !(optionalOne && positional.size() <= 1)) {
    Write(err, kUsage);
    return 2;
  }
  std::wstring first = positional.empty() ? L"" : positional[0];
  std::wstring error;
  if (command == L"where") {
    Write(out, profilesPath + L"\n");
    return 0;
  }
  if (command == L"list") {
    std::wstring listing;
    if (!provider::admin::ListProfiles(profilesPath, first, listing, error)) {
      Write(err, L"kvmapi-admin: " + error + L"\n");
      return 1;
    }
    Write(out, listing);
    return 0;
  }
  if (command == L"create-profile") {
    request.profile.name = first;
    for (const std::wstring& name : readOnlyStores) {
      bool found = false;
      for (provider::StoreConfig& store : request.profile.stores)
        if (store.name == name) store.readOnly = found = true;
      if (!found) {
        Write(err, L"kvmapi-admin: --read-only-store " + name + L" names no --store\n");
        return 2;
      }
    }
    if (!provider::admin::CreateProfile(profilesPath, request, error)) {
      Write(err, L"kvmapi-admin: " + error + L"\n");
      return 1;
    }
    Write(out, L"Profile " + request.profile.name + L" written to " + profilesPath + L"\n");
    return 0;
  }
  if (command == L"messages") {
    std::vector<provider::admin::MessageSummary> messages;
    if (!provider::admin::ListMessages(profilesPath, profileName, first, messages, error)) {
      Write(err, L"kvmapi-admin: " + error + L"\n");
      return 1;
    }
    Write(out, provider::admin::FormatMessages(first, messages));
    return 0;
  }
  if (command == L"extract") {
    wchar_t* end = nullptr;
    unsigned long attachment = wcstoul(positional[2].c_str(), &end, 10);
    if (positional[2].empty() || *end != L'\0') {
      Write(err, L"kvmapi-admin: ATTACHMENT is a number, counted from 1\n");
      return 2;
    }
    uint64_t bytes = 0;
    if (!provider::admin::ExtractAttachment(profilesPath, profileName, first, positional[1],
                                            static_cast<unsigned>(attachment), positional[3], bytes, error)) {
      Write(err, L"kvmapi-admin: " + error + L"\n");
      return 1;
    }
    Write(out, std::to_wstring(bytes) + L" bytes written to " + positional[3] + L"\n");
    return 0;
  }
  Write(err, kUsage);
  return 2;
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
