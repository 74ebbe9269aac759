// Logon through our MAPI32.DLL, in the test program: the code and the
// message a failed logon or profile lookup leaves in the job, in the job's
// language, and the identity that may be missing without failing the logon.
// (A failed KVEInitExportDestinationW destroys its job, so only a test sees
// the message here.)
#include <windows.h>

#include <mapicode.h>

#include <gtest/gtest.h>

#include <string>

#include "interface/export_job.h"
#include "mapi/session_logon.h"
#include "tests/support/provider_in_process.h"

namespace {

using kvtest::Text;

using LogonMessagesTest = kvtest::ProviderInProcessTest;

TEST_F(LogonMessagesTest, FailedLogonsAndLookupsGiveTheirCodeAndMessage) {
  const wchar_t* const kLogon = L"Cannot logon to Exchange Profile.";
  const wchar_t* const kGermanLogon = L"Die Anmeldung am Exchange-Profil ist nicht m\u00f6glich.";
  const wchar_t* const kProfile = L"Cannot retrieve Exchange profile name.";
  const wchar_t* const kEarlier = L"earlier text";
  struct Case {
    const char* what;
    DWORD language;
    const wchar_t* profile;
    const wchar_t* password;
    const char* fault;  // a provider method made to fail once
    unsigned nth;
    HRESULT result;
    int code;
    const wchar_t* message;
    bool identity;
  } cases[] = {
      {"no such profile", 0x0409, L"Nobody", L"secret", nullptr, 0, S_OK, KVE_FAILED, kLogon, false},
      {"wrong password, German", 0x0407, L"Work", L"wrong", nullptr, 0, S_OK, KVE_FAILED, kGermanLogon, false},
      {"logon cancelled", 0x0409, L"Work", L"secret", "MAPI::MAPILogonEx", 1, MAPI_E_USER_CANCEL, KVE_CANCELLED,
       kEarlier, false},
      {"logon refused access: the logon's text", 0x0409, L"Work", L"secret", "MAPI::MAPILogonEx", 1, MAPI_E_NO_ACCESS,
       KVE_FAILED, kLogon, false},
      {"status table refused, German", 0x0407, L"Work", L"secret", "IMAPISession::GetStatusTable", 1,
       MAPI_E_NO_ACCESS, KVE_FAILED, L"Der Name des Exchange-Profils kann nicht ermittelt werden.", false},
      {"status columns refused", 0x0409, L"Work", L"secret", "IMAPITable::SetColumns", 1, MAPI_E_CALL_FAILED,
       KVE_FAILED, kProfile, false},
      {"status rows refused, Finnish", 0x040B, L"work", L"secret", "IMAPITable::QueryRows", 1, MAPI_E_NO_ACCESS,
       KVE_FAILED, kProfile, false},
      {"status table on a full disk", 0x0409, L"Work", L"secret", "IMAPITable::SeekRow", 1, MAPI_E_NOT_ENOUGH_DISK,
       KVE_DISK_FULL, kEarlier, false},
      {"no identity", 0x0409, L"Work", L"secret", "IMAPISession::QueryIdentity", 1, MAPI_E_NO_SUPPORT, KVE_OK,
       kEarlier, false},
      {"identity not opened", 0x0409, L"Work", L"secret", "IMAPISession::OpenEntry", 1, MAPI_E_NOT_FOUND, KVE_OK,
       kEarlier, false},
      {"identity without values", 0x0409, L"Work", L"secret", "IMailUser::GetProps", 1, MAPI_E_CALL_FAILED, KVE_OK,
       kEarlier, false},
      {"success", 0x0407, L"work", L"secret", nullptr, 0, S_OK, KVE_OK, kEarlier, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExportJob* job = CreateExportJob(nullptr);
    job->silent = 1;
    job->language = c.language;
    CopyWide(job->errorText, kErrorTextCapacity, kEarlier, 100);
    if (c.fault) Fail(c.fault, c.result, c.nth);
    EXPECT_EQ(c.code, LogonProfile(*job, c.profile, c.password));
    EXPECT_EQ(Text(c.message), Text(job->errorText));
    EXPECT_EQ(c.code == KVE_OK, job->destination.profileName.get() != nullptr);
    if (c.code == KVE_OK) {
      EXPECT_EQ(L"Work", Text(job->destination.profileName.get())) << "as the profile names itself";
    }
    EXPECT_EQ(c.identity ? L"Erika Mustermann" : L"<null>", Text(job->identity.name.get()));
    EXPECT_EQ(c.identity ? 72u : 0u, job->identity.entryId.byteCount);
    EXPECT_EQ(c.identity ? sizeof "SMTP:ERIKA@EXAMPLE.ORG" : 0u, job->identity.searchKey.byteCount);
    DestroyExportJob(job);
    clearFaults_();
    ExpectNothingHeld();
  }
}

}  // namespace
