// Logon over fake MAPI: the flags of a silent and of a dialog logon, the
// profile name from the status table, the identity, the code and message of
// every failing step, and that each path releases what it received. (Running
// out of memory is swept through the whole job setup in the job's tests.)
#include <windows.h>

#include <mapitags.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "interface/export_job.h"
#include "mapi/session_logon.h"
#include "tests/fakes/fake_mapi_fixture.h"
#include "tests/support/allocation_failure.h"

namespace {

using kvfake::FakeProp;
using kvfake::FakeRow;
using Calls = std::vector<std::string>;
using Bytes = std::vector<BYTE>;

constexpr HRESULT kLogonFailed = static_cast<HRESULT>(0x80040111);  // MAPI_E_LOGON_FAILED

const Bytes kUserEntryId = {0, 0, 0, 0, 0x4B, 0x56, 1, 2, 3, 4};
const Bytes kUserSearchKey = {'S', 'M', 'T', 'P', ':', 'E', '@', 'X', 0};

std::wstring Text(const wchar_t* text) { return text ? text : L"<null>"; }
Bytes BytesOf(const BinaryValue& value) { return Bytes(value.bytes.get(), value.bytes.get() + value.byteCount); }

struct JobDeleter {
  void operator()(ExportJob* job) const { DestroyExportJob(job); }
};
using JobPtr = std::unique_ptr<ExportJob, JobDeleter>;

class SessionLogonTest : public kvfake::FakeMapiTest {
 protected:
  void SetUp() override {
    FakeMapiTest::SetUp();
    fake.session->statusRows = kvfake::StatusRowsOfProfile("Work");
    fake.session->identityEntryId = kUserEntryId;
    fake.session->identityProps = {FakeProp::Text(PR_DISPLAY_NAME_A, "Erika Mustermann"),
                                   FakeProp::Binary(PR_SEARCH_KEY, kUserSearchKey)};
  }
  JobPtr NewJob(uint32_t silent, DWORD language = 0x0409) {
    JobPtr job(CreateExportJob(nullptr));
    job->silent = silent;
    job->language = language;
    CopyWide(job->errorText, kErrorTextCapacity, L"earlier text", 100);
    return job;
  }
  static void ExpectIdentity(const ExportJob& job, bool present, bool withName = true) {
    EXPECT_EQ(present ? kUserEntryId : Bytes(), BytesOf(job.identityEntryId));
    EXPECT_EQ(present && withName ? L"Erika Mustermann" : L"<null>", Text(job.identityName.get()));
    EXPECT_EQ(present ? kUserSearchKey : Bytes(), BytesOf(job.identitySearchKey));
  }
};

TEST_F(SessionLogonTest, SilentLogonLearnsProfileAndIdentityAndReleasesAllButTheSession) {
  JobPtr job = NewJob(1);
  ASSERT_EQ(KVE_OK, LogonProfile(*job, L"work", L"secret"));
  EXPECT_EQ((Calls{"MAPILogonEx profile=work password=secret flags=0x80008022",
                   "IMAPISession::GetStatusTable flags=0x0", "IMAPITable::GetRowCount flags=0x0",
                   "IMAPITable::Restrict restriction=null flags=0x0", "IMAPITable::SetColumns columns=2 flags=0x0",
                   "IMAPITable::GetRowCount flags=0x0", "IMAPITable::SeekRow origin=beginning rows=0 sought=null",
                   "IMAPITable::QueryRows rows=50 flags=0x0", "IMAPISession::QueryIdentity",
                   "IMAPISession::OpenEntry size=10 flags=0x10", "IMailUser::GetProps tags=2 flags=0x0",
                   "IMailUser::Release", "IMAPITable::Release"}),
            fake.calls());
  EXPECT_EQ(L"Work", Text(job->profileName.get())) << "the name the status table gives";
  ExpectIdentity(*job, true);
  EXPECT_EQ(L"earlier text", Text(job->errorText));
  EXPECT_EQ(1, fake.liveObjects()) << "only the session is held";
  EXPECT_EQ(0u, fake.outstandingBuffers());

  fake.ClearCalls();
  DestroyExportJob(job.release());
  EXPECT_EQ((Calls{"IMAPISession::Logoff flags=0x0", "IMAPISession::Release"}), fake.calls());
}

TEST_F(SessionLogonTest, EachFailingStepGivesItsCodeAndMessage) {
  const wchar_t* const kLogon = L"Cannot logon to Exchange Profile.";
  const wchar_t* const kProfile = L"Cannot retrieve Exchange profile name.";
  const wchar_t* const kEarlier = L"earlier text";
  struct Case {
    const char* failingCall;
    unsigned nth;
    HRESULT failure;
    int code;
    const wchar_t* message;
    bool sessionHeld;
    bool identity;
  } cases[] = {
      {"MAPILogonEx", 1, kLogonFailed, KVE_FAILED, kLogon, false, false},
      {"MAPILogonEx", 1, MAPI_E_NO_ACCESS, KVE_FAILED, kLogon, false, false},  // the mapping's text is replaced
      {"MAPILogonEx", 1, MAPI_E_USER_CANCEL, KVE_CANCELLED, kEarlier, false, false},
      {"MAPILogonEx", 1, MAPI_E_NOT_ENOUGH_MEMORY, KVE_NO_MEMORY, kEarlier, false, false},
      {"IMAPISession::GetStatusTable", 1, MAPI_E_NO_ACCESS, KVE_FAILED, kProfile, true, false},
      {"IMAPITable::GetRowCount", 1, MAPI_E_NO_SUPPORT, KVE_OK, kEarlier, true, true},  // the count at opening
      {"IMAPITable::SetColumns", 1, MAPI_E_CALL_FAILED, KVE_FAILED, kProfile, true, false},
      {"IMAPITable::GetRowCount", 2, MAPI_E_NOT_ENOUGH_DISK, KVE_DISK_FULL, kEarlier, true, false},
      {"IMAPITable::SeekRow", 1, MAPI_E_NOT_ENOUGH_MEMORY, KVE_NO_MEMORY, kEarlier, true, false},
      {"IMAPITable::QueryRows", 1, MAPI_E_CALL_FAILED, KVE_FAILED, kProfile, true, false},  // no row: not found
      {"IMAPISession::QueryIdentity", 1, MAPI_E_NO_SUPPORT, KVE_OK, kEarlier, true, false},
      {"IMAPISession::OpenEntry", 1, MAPI_E_NOT_FOUND, KVE_OK, kEarlier, true, false},
      {"IMailUser::GetProps", 1, MAPI_E_CALL_FAILED, KVE_OK, kEarlier, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.failingCall) + " #" + std::to_string(c.nth) + " fails with " +
                 kvfake::Hex(static_cast<ULONG>(c.failure)));
    JobPtr job = NewJob(1);
    fake.FailCall(c.failingCall, c.failure, c.nth);
    EXPECT_EQ(c.code, LogonProfile(*job, L"Work", L"secret"));
    EXPECT_EQ(Text(c.message), Text(job->errorText));
    EXPECT_EQ(c.sessionHeld, static_cast<bool>(job->session));
    EXPECT_EQ(c.sessionHeld ? 1 : 0, fake.liveObjects()) << "everything but the session is released";
    EXPECT_EQ(0u, fake.outstandingBuffers());
    EXPECT_EQ(c.code == KVE_OK, job->profileName.get() != nullptr);
    ExpectIdentity(*job, c.identity);
    job.reset();
    ExpectEverythingReleased();
  }
}

TEST_F(SessionLogonTest, OnlyACompleteSubsystemRowNamesTheProfile) {
  FakeRow storeRow = {FakeProp::Long(PR_RESOURCE_TYPE, MAPI_STORE_PROVIDER), FakeProp::Text(PR_DISPLAY_NAME_A, "S")};
  FakeRow unnamedSubsystem = {FakeProp::Long(PR_RESOURCE_TYPE, MAPI_SUBSYSTEM)};  // display name comes back as an error
  FakeRow namedSubsystem = {FakeProp::Long(PR_RESOURCE_TYPE, MAPI_SUBSYSTEM), FakeProp::Text(PR_DISPLAY_NAME_A, "Late")};
  struct Case {
    const char* what;
    std::vector<FakeRow> rows;
    int code;
    const wchar_t* profile;
  } cases[] = {
      {"no subsystem row", {storeRow, storeRow}, KVE_FAILED, L"<null>"},
      {"a subsystem row without a name", {unnamedSubsystem, storeRow}, KVE_FAILED, L"<null>"},
      {"an unnamed one passed over", {unnamedSubsystem, storeRow, namedSubsystem}, KVE_OK, L"Late"},
      {"found in the third batch", std::vector<FakeRow>(120, storeRow), KVE_OK, L"Late"},
  };
  cases[3].rows[110] = namedSubsystem;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake.session->statusRows = c.rows;
    fake.ClearCalls();
    JobPtr job = NewJob(1);
    EXPECT_EQ(c.code, LogonProfile(*job, L"Work", nullptr));
    EXPECT_EQ(Text(c.profile), Text(job->profileName.get()));
    if (c.code != KVE_OK) {
      EXPECT_EQ(L"Cannot retrieve Exchange profile name.", Text(job->errorText));
    }
  }
  EXPECT_EQ(3u, fake.CallsStartingWith("IMAPITable::QueryRows").size());
}

TEST_F(SessionLogonTest, MissingIdentityPropertiesArePassedOver) {
  struct Case {
    const char* what;
    FakeRow props;
    Bytes searchKey;
    const wchar_t* name;
  } cases[] = {
      {"no display name", {FakeProp::Binary(PR_SEARCH_KEY, kUserSearchKey)}, kUserSearchKey, L"<null>"},
      {"no search key", {FakeProp::Text(PR_DISPLAY_NAME_A, "Erika")}, Bytes(), L"Erika"},
      {"neither", {}, Bytes(), L"<null>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake.session->identityProps = c.props;
    ModuleBlock<wchar_t> name;
    BinaryValue entryId;
    BinaryValue searchKey;
    MAPIInterface<IMAPISession> session(kvfake::NewFakeSession(fake.session));
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, QuerySessionIdentity(session.get(), entryId, name, searchKey));
    EXPECT_EQ(kUserEntryId, BytesOf(entryId)) << "the entry id is kept";
    EXPECT_EQ(c.searchKey, BytesOf(searchKey));
    EXPECT_EQ(Text(c.name), Text(name.get()));
  }
}

TEST_F(SessionLogonTest, LoggingOnAgainEndsTheFirstSessionFirst) {
  JobPtr job = NewJob(1);
  ASSERT_EQ(KVE_OK, LogonProfile(*job, L"Work", L"secret"));
  fake.ClearCalls();
  // Now as the dialog setup logs on: MAPI's dialog allowed, MAPI names the profile.
  job->silent = 0;
  fake.session->statusRows = kvfake::StatusRowsOfProfile("Chosen In The Dialog");
  ASSERT_EQ(KVE_OK, LogonProfile(*job, nullptr, nullptr));
  const Calls& calls = fake.calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ((Calls{"IMAPISession::Logoff flags=0x0", "IMAPISession::Release",
                   "MAPILogonEx profile=null password=null flags=0x80008023"}),
            Calls(calls.begin(), calls.begin() + 3));
  EXPECT_EQ(L"Chosen In The Dialog", Text(job->profileName.get()));
  EXPECT_EQ(1, fake.liveObjects());
}

}  // namespace
