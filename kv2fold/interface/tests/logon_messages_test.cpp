// Logon through our MAPI32.DLL, in the test program: the message a failed
// logon or profile lookup leaves in the job, in the job's language. (A failed
// KVEInitExportDestinationW destroys its job, so only a test sees it here.)
// Each case ends with the provider holding no object and no buffer.
#include <windows.h>

#include <mapicode.h>

#include <gtest/gtest.h>

#include <kvprovider/diagnostics.h>

#include <string>

#include "interface/export_job.h"
#include "interface/module_state.h"
#include "mapi/mapi_binding.h"
#include "mapi/session_logon.h"
#include "platform/locale_library.h"
#include "tests/support/test_environment.h"

namespace {

std::wstring Text(const wchar_t* text) { return text ? text : L"<null>"; }

class LogonMessagesTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"kvlogon-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    const std::wstring profiles = folder_ + L"\\profiles.ini";
    const char text[] =
        "[Profile]\nName=Work\nPassword=secret\nUserName=Erika Mustermann\nUserAddress=erika@example.org\n"
        "[Store]\nName=Mailbox\nDirectory=mailbox\n";
    HANDLE file = CreateFileW(profiles.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, text, sizeof text - 1, &written, nullptr));
    CloseHandle(file);
    SetEnvironmentVariableW(KV_MAPI_DIAGNOSTICS_VARIABLE, L"1");
    SetEnvironmentVariableW(KV_MAPI_PROFILES_VARIABLE, profiles.c_str());

    g_ModuleState.moduleInstance = GetModuleHandleW(nullptr);
    g_ModuleState.localeHandle = OpenModuleResources(g_ModuleState.moduleInstance);
    ASSERT_EQ(1, BindMAPI()) << "our MAPI32.DLL lies beside the program";
    liveObjects_ = reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(g_mapiModule, "KvMapiLiveObjects"));
    buffers_ = reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(g_mapiModule, "KvMapiOutstandingBuffers"));
    injectFault_ = reinterpret_cast<KvMapiInjectFaultFunction>(GetProcAddress(g_mapiModule, "KvMapiInjectFault"));
    ASSERT_TRUE(liveObjects_ && buffers_ && injectFault_) << "not our MAPI32.DLL";
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
    kvtest::RemoveTree(folder_);
  }

  std::wstring folder_;
  KvMapiCounterFunction liveObjects_ = nullptr;
  KvMapiCounterFunction buffers_ = nullptr;
  KvMapiInjectFaultFunction injectFault_ = nullptr;
};

TEST_F(LogonMessagesTest, FailedLogonsAndLookupsInTheJobsLanguage) {
  const wchar_t* const kLogon = L"Cannot logon to Exchange Profile.";
  const wchar_t* const kGermanLogon = L"Die Anmeldung am Exchange-Profil ist nicht m\u00f6glich.";
  struct Case {
    const char* what;
    DWORD language;
    const wchar_t* profile;
    const wchar_t* password;
    const char* fault;  // a provider method made to fail once
    int code;
    const wchar_t* message;
  } cases[] = {
      {"no such profile", 0x0409, L"Nobody", L"secret", nullptr, KVE_FAILED, kLogon},
      {"wrong password, German", 0x0407, L"Work", L"wrong", nullptr, KVE_FAILED, kGermanLogon},
      {"Austrian German: the German set", 0x0C07, L"Nobody", nullptr, nullptr, KVE_FAILED, kGermanLogon},
      {"Finnish set lacks the string", 0x040B, L"Nobody", nullptr, nullptr, KVE_FAILED, kLogon},
      {"status table refused, German", 0x0407, L"Work", L"secret", "IMAPISession::GetStatusTable", KVE_FAILED,
       L"Der Name des Exchange-Profils kann nicht ermittelt werden."},
      {"status rows refused, Finnish", 0x040B, L"work", L"secret", "IMAPITable::QueryRows", KVE_FAILED,
       L"Cannot retrieve Exchange profile name."},
      {"success", 0x0407, L"work", L"secret", nullptr, KVE_OK, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExportJob* job = CreateExportJob(nullptr);
    job->silent = 1;
    job->language = c.language;
    if (c.fault) {
      ASSERT_EQ(S_OK, injectFault_(c.fault, 1, MAPI_E_NO_ACCESS));
    }
    EXPECT_EQ(c.code, LogonProfile(*job, c.profile, c.password));
    EXPECT_EQ(Text(c.message), Text(job->errorText));
    if (c.code == KVE_OK) {
      EXPECT_EQ(L"Work", Text(job->destination.profileName.get())) << "as the profile names itself";
      EXPECT_EQ(L"Erika Mustermann", Text(job->identity.name.get()));
      EXPECT_EQ(72u, job->identity.entryId.byteCount);
      EXPECT_EQ(sizeof "SMTP:ERIKA@EXAMPLE.ORG", job->identity.searchKey.byteCount);
    }
    DestroyExportJob(job);
    EXPECT_EQ(0, liveObjects_()) << "MAPI objects not released";
    EXPECT_EQ(0, buffers_()) << "MAPI buffers not freed";
  }
}

}  // namespace
