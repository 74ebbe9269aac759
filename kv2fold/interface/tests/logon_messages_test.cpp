// Logon through our MAPI32.DLL, in the test program: the messages a failed
// logon or profile lookup leaves in the job, in the job's language. (A failed
// KVEInitExportDestinationW destroys its job, so a host never reads these;
// the export of a later step shows them.) Each case ends with the provider
// holding no object and no buffer.
#include <windows.h>

#include <mapicode.h>

#include <gtest/gtest.h>

#include <kvprovider/diagnostics.h>

#include <string>
#include <vector>

#include "interface/export_job.h"
#include "interface/module_state.h"
#include "mapi/mapi_binding.h"
#include "mapi/session_logon.h"
#include "platform/locale_library.h"
#include "platform/tests/test_support.h"

namespace {

std::wstring Text(const wchar_t* text) { return text ? text : L"<null>"; }

const char kProfiles[] =
    "[Profile]\n"
    "Name=Work\n"
    "Password=secret\n"
    "UserName=Erika Mustermann\n"
    "UserAddress=erika@example.org\n"
    "[Store]\n"
    "Name=Mailbox\n"
    "Directory=mailbox\n";

// Removes a folder with everything below it.
void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  while (search != INVALID_HANDLE_VALUE) {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") {
      std::wstring child = path + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    }
    if (!FindNextFileW(search, &found)) break;
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryW(path.c_str());
}

class LogonMessagesTest : public testing::Test {
 protected:
  void SetUp() override {
    SetEnvironmentVariableW(KV_MAPI_DIAGNOSTICS_VARIABLE, L"1");
    SetEnvironmentVariableW(KV_MAPI_PROFILES_VARIABLE, folder_.File(L"profiles.ini").c_str());
    HANDLE file = CreateFileW(folder_.File(L"profiles.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, kProfiles, sizeof kProfiles - 1, &written, nullptr);
    CloseHandle(file);

    g_ModuleState.moduleInstance = GetModuleHandleW(nullptr);
    g_ModuleState.localeHandle = OpenModuleResources(g_ModuleState.moduleInstance);
    ASSERT_EQ(1, BindMAPI()) << "our MAPI32.DLL lies beside the program";
    liveObjects_ = reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(g_mapiModule, "KvMapiLiveObjects"));
    outstandingBuffers_ =
        reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(g_mapiModule, "KvMapiOutstandingBuffers"));
    injectFault_ = reinterpret_cast<KvMapiInjectFaultFunction>(GetProcAddress(g_mapiModule, "KvMapiInjectFault"));
    ASSERT_TRUE(liveObjects_ && outstandingBuffers_ && injectFault_) << "not our MAPI32.DLL";
    ASSERT_EQ(S_OK, g_MAPIFunctions.MAPIInitialize(nullptr));
  }
  void TearDown() override {
    if (g_mapiBound) {
      g_MAPIFunctions.MAPIUninitialize();
      UnbindMAPI();
    }
    CloseModuleResources(g_ModuleState.localeHandle);
    g_ModuleState.localeHandle = 0;
    SetEnvironmentVariableW(KV_MAPI_PROFILES_VARIABLE, nullptr);
    RemoveTree(folder_.File(L"mailbox"));  // the store the provider made at the first logon
  }
  void ExpectProviderHoldsNothing() {
    EXPECT_EQ(0, liveObjects_()) << "MAPI objects not released";
    EXPECT_EQ(0, outstandingBuffers_()) << "MAPI buffers not freed";
  }

  kvtest::TempDirectory folder_;
  KvMapiCounterFunction liveObjects_ = nullptr;
  KvMapiCounterFunction outstandingBuffers_ = nullptr;
  KvMapiInjectFaultFunction injectFault_ = nullptr;
};

TEST_F(LogonMessagesTest, FailedLogonsAndLookupsInTheJobsLanguage) {
  const wchar_t* const kEnglishLogon = L"Cannot logon to Exchange Profile.";
  const wchar_t* const kEnglishLookup = L"Cannot retrieve Exchange profile name.";
  struct Case {
    const char* what;
    DWORD language;
    const wchar_t* profile;
    const wchar_t* password;
    const char* fault;  // a provider method made to fail once
    int code;
    const wchar_t* message;
  } cases[] = {
      {"no such profile", 0x0409, L"Nobody", L"secret", nullptr, KVE_FAILED, kEnglishLogon},
      {"wrong password, German", 0x0407, L"Work", L"wrong", nullptr, KVE_FAILED,
       L"Die Anmeldung am Exchange-Profil ist nicht m\u00f6glich."},
      {"Austrian German uses the German set", 0x0C07, L"Nobody", nullptr, nullptr, KVE_FAILED,
       L"Die Anmeldung am Exchange-Profil ist nicht m\u00f6glich."},
      {"Dutch", 0x0413, L"Nobody", nullptr, nullptr, KVE_FAILED, L"Kan niet aanmelden bij het Exchange-profiel."},
      {"Finnish set lacks the string", 0x040B, L"Nobody", nullptr, nullptr, KVE_FAILED, kEnglishLogon},
      {"French falls back to the module's English", 0x040C, L"Nobody", nullptr, nullptr, KVE_FAILED, kEnglishLogon},
      {"status table refused, English", 0x0409, L"Work", L"secret", "IMAPISession::GetStatusTable", KVE_FAILED,
       kEnglishLookup},
      {"status table refused, German", 0x0407, L"Work", L"secret", "IMAPISession::GetStatusTable", KVE_FAILED,
       L"Der Name des Exchange-Profils kann nicht ermittelt werden."},
      {"status rows refused, Finnish", 0x040B, L"work", L"secret", "IMAPITable::QueryRows", KVE_FAILED,
       kEnglishLookup},
      {"success", 0x0407, L"work", L"secret", nullptr, KVE_OK, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExportJob* job = CreateExportJob(nullptr);
    ASSERT_NE(nullptr, job);
    job->silent = 1;
    job->language = c.language;
    if (c.fault) {
      ASSERT_EQ(S_OK, injectFault_(c.fault, 1, MAPI_E_NO_ACCESS));
    }
    EXPECT_EQ(c.code, LogonProfile(*job, c.profile, c.password));
    EXPECT_EQ(Text(c.message), Text(job->errorText));
    if (c.code == KVE_OK) {
      EXPECT_EQ(L"Work", Text(job->profileName.get())) << "as the profile names itself";
      EXPECT_EQ(L"Erika Mustermann", Text(job->identityName.get()));
      const char searchKey[] = "SMTP:ERIKA@EXAMPLE.ORG";
      EXPECT_EQ(std::string(searchKey, sizeof searchKey),
                std::string(reinterpret_cast<const char*>(job->identitySearchKey.bytes.get()),
                            job->identitySearchKey.byteCount));
      EXPECT_EQ(72u, job->identityEntryId.byteCount);
    }
    DestroyExportJob(job);
    ExpectProviderHoldsNothing();
  }
}

}  // namespace
