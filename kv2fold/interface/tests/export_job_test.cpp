// Export jobs over our MAPI32.DLL: posted names and their short forms, the
// job's language, every refused setup (records placed where any read past
// them faults), the code and message a failed logon or profile lookup leaves,
// and running out of memory at every allocation. A job from each layout
// through the real module is a test of the module program.
#include <windows.h>

#include <mapicode.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "interface/export_job.h"
#include "mapi/report_posting.h"
#include "mapi/session_logon.h"
#include "platform/tests/test_support.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/options_blocks.h"
#include "tests/support/provider_in_process.h"

namespace {

using kvtest::OptionsText;

using kvtest::Text;

KVEExportFile FileEntry(uint32_t useFileName, const wchar_t* fileName, const wchar_t* pattern) {
  KVEExportFile file{};
  file.structSize = sizeof file;
  file.useFileName = useFileName;
  file.fileName = fileName;
  file.fileNamePattern = pattern;
  return file;
}

TEST(PostedNames, FromFileNamesAndPatterns) {
  const std::wstring longName(300, L'a');
  const std::wstring longPattern = L"C:\\out\\" + longName + L".pdf";
  struct Case {
    bool nullEntry;
    uint32_t useFileName;
    const wchar_t* fileName;
    const wchar_t* pattern;
    std::wstring posted;
  } cases[] = {
      {true, 0, nullptr, nullptr, L"untitled.txt"},
      {false, 0, nullptr, nullptr, L"untitled.txt"},
      {false, 0, L"ignored.doc", nullptr, L"untitled.txt"},
      {false, 0, nullptr, L"*.pdf", L"untitled.pdf"},
      {false, 0, nullptr, L"report.*", L"report.txt"},
      {false, 0, nullptr, L"report", L"report.txt"},
      {false, 0, nullptr, L"C:\\exports\\2024\\monthly.xlsx", L"monthly.xlsx"},
      {false, 0, nullptr, L"C:\\a.b\\re?ort.doc", L"untitled.doc"},
      {false, 0, nullptr, L"D:rel.csv", L"rel.csv"},
      {false, 0, nullptr, L"/unix/style.htm", L"style.htm"},
      {false, 0, nullptr, L"x.*.?", L"untitled.txt"},
      {false, 0, nullptr, L"archive.tar.gz", L"archive.tar.gz"},
      {false, 0, nullptr, L"C:\\out\\", L"untitled.txt"},
      {false, 0, nullptr, longPattern.c_str(), std::wstring(260, L'a') + L".pdf"},
      {false, 1, L"C:\\tmp\\x1.rpt", L"*.pdf", L"x1.rpt"},
      {false, 1, L"x1", nullptr, L"x1"},
      {false, 1, L"C:\\tmp\\*.rpt", nullptr, L"*.rpt"},
      {false, 1, L"C:\\tmp\\", nullptr, L""},
      {false, 1, nullptr, L"report.pdf", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nullEntry ? std::string("null entry") : testing::PrintToString(std::wstring(Text(c.useFileName ? c.fileName : c.pattern))));
    KVEExportFile file = FileEntry(c.useFileName, c.fileName, c.pattern);
    ModuleBlock<wchar_t> name;
    ASSERT_EQ(KVE_OK, DerivePostedName(c.nullEntry ? nullptr : &file, name));
    EXPECT_EQ(c.posted, Text(name.get()));
  }
}

TEST(PostedNames, ShortFileNamesKeepEightCharactersAndTheExtension) {
  struct Case {
    const wchar_t* name;
    const wchar_t* shortName;
  } cases[] = {
      {L"QuarterlyResults.pdf", L"Quarterl.pdf"}, {L"a.txt", L"a.txt"},
      {L"12345678.x", L"12345678.x"},             {L"123456789", L"12345678"},
      {L"Archive.Report.tar.gz", L"Archive..gz"}, {L".profile", L".profile"},
      {L"C:\\dir\\LongerName.docx", L"C:\\dir\\LongerNa.docx"},
  };
  for (const Case& c : cases) {
    wchar_t out[kShortFileNameCapacity];
    MakeShortFileName(c.name, out);
    EXPECT_EQ(std::wstring(c.shortName), out) << testing::PrintToString(std::wstring(c.name));
  }
}

class ExportJobTest : public kvtest::ProviderInProcessTest {
 protected:
  void SetUp() override {
    ProviderInProcessTest::SetUp();
    files_[0] = FileEntry(1, L"C:\\exports\\sales.pdf", nullptr);
    files_[1] = FileEntry(0, nullptr, L"*.csv");
    filePointers_[0] = &files_[0];
    filePointers_[1] = &files_[1];
    info_.structSize = sizeof info_;
    info_.fileCount = 2;
    info_.files = filePointers_;
    info_.language = 0x0409;
  }

  // KVEInitExportDestinationW's logic; the job (if any) in job_.
  int Init(const KVEDestinationOptions* options, const KVEExportInfo* info = nullptr) {
    record_ = reinterpret_cast<KVEJobRecord*>(0x5678);
    return InitExportDestination(reinterpret_cast<HWND>(0x4321), options, info ? info : &info_, &job_, &record_);
  }
  ExportJob& Job() { return *JobOf(job_); }
  void Term() {
    EXPECT_EQ(KVE_OK, TermExportDestination(job_));
    job_ = nullptr;
  }

  KVEExportFile files_[2];
  KVEExportFile* filePointers_[2];
  KVEExportInfo info_{};
  KVEJobHandle job_ = nullptr;
  KVEJobRecord* record_ = nullptr;
};

// Every way a setup is refused: no job and no record for the host, the
// host's bytes (placed where a read past them faults) only read, and a
// logon tried only for records that pass the checks, silently.
TEST_F(ExportJobTest, RefusedSetupsLeaveNoJobAndLogOnOnlyForAWholeRecord) {
  const OptionsText text = {L"work", L"secret", FolderReport, L"Mailbox"};
  std::vector<unsigned char> block = kvtest::NativeBlock(text);
  std::vector<unsigned char> structSize17 = block;
  structSize17[0] = 17;
  std::vector<unsigned char> unterminated = block;
  unterminated[unterminated.size() - 2] = 'x';  // the folder path runs to the page's end
  const std::vector<std::string> noLogon, refusedLogon = {"MAPI::MAPILogonEx flags=0x80008022 -> 0x80040111"};
  // Two of the reading rule's refusals: the rule itself (shared with the
  // conversions) has tests of its own; here a refusal must never log on.
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    int code;
    const std::vector<std::string>& logons;
  } cases[] = {
      {"structSize 17", structSize17, KVE_BAD_ARGUMENT, noLogon},
      {"a string not terminated inside the block", unterminated, KVE_BAD_ARGUMENT, noLogon},
      {"no profile name", kvtest::NativeBlock({nullptr, L"secret", FolderReport, L"M"}), KVE_NO_MEMORY, noLogon},
      {"an empty profile name, not the default profile", kvtest::NativeBlock({L"", L"secret", FolderReport, L"M"}),
       KVE_NO_MEMORY, noLogon},
      {"kind 0", kvtest::NativeBlock({L"Work", L"secret", 0, L"M"}), KVE_BAD_ARGUMENT, noLogon},
      {"kind 1012", kvtest::NativeBlock({L"Work", L"secret", 1012, L"M"}), KVE_BAD_ARGUMENT, noLogon},
      {"no such profile", kvtest::NativeBlock({L"Nobody", L"secret", FolderReport, L"M"}), KVE_FAILED, refusedLogon},
      {"a wrong password", kvtest::NativeBlock({L"Work", L"wrong", FolderReport, L"M"}), KVE_FAILED, refusedLogon},
      {"no password", kvtest::NativeBlock({L"Work", nullptr, FolderReport, L"M"}), KVE_FAILED, refusedLogon},
  };
  kvtest::GuardedPage page;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearTrace();
    const auto* options = page.PlaceAtEnd<KVEDestinationOptions>(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(c.code, Init(options));
    EXPECT_EQ(nullptr, job_);
    EXPECT_EQ(nullptr, record_);
    EXPECT_EQ(c.logons, TraceLines("MAPILogonEx")) << "silent: the profile chooser never opens";
    EXPECT_EQ(0, memcmp(c.bytes.data(), options, c.bytes.size())) << "the host's bytes are only read";
    Term();  // the host's null-job call balances MAPIInitialize
  }
}

// A job from each layout of the record (the reading of each has tests of
// its own) logs on and settles the name the profile gives itself; it holds
// its session until it ends.
TEST_F(ExportJobTest, AJobFromEachLayoutLogsOnAndHoldsItsSession) {
  const OptionsText text = {L"work", L"secret", FolderReport, L"Mailbox#Inbox#Reports"};
  KVEDestinationOptions pointerRecord = kvtest::PointerRecord(text);
  std::vector<unsigned char> block = kvtest::NativeBlock(text), block32 = kvtest::Block32(text);
  struct Case {
    const char* what;
    const void* bytes;
    size_t size;
  } cases[] = {{"pointer record", &pointerRecord, sizeof pointerRecord},
               {"block", block.data(), block.size()},
               {"block of a 32-bit host", block32.data(), block32.size()}};
  kvtest::GuardedPage page;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearTrace();
    ASSERT_EQ(KVE_OK, Init(page.PlaceAtEnd<KVEDestinationOptions>(c.bytes, c.size)));
    ASSERT_NE(nullptr, record_);
    EXPECT_EQ(sizeof(KVEJobRecord), record_->structSize);
    const DestinationSettings& settled = Job().destination;
    EXPECT_EQ(L"Work", Text(settled.profileName.get())) << "the name of the profile in use, from its status table";
    EXPECT_EQ(L"secret", Text(settled.password.get()));
    EXPECT_EQ(FolderReport, settled.postingKind);
    EXPECT_EQ(L"Mailbox#Inbox#Reports", Text(settled.folderPath.get()));
    EXPECT_EQ(1, liveObjects_()) << "the job holds its session and nothing else";
    Term();
    EXPECT_EQ(1u, TraceLines("IMAPISession::Logoff flags=0x00000000 -> 0x00000000").size());
    ExpectNothingHeld();
  }
}

TEST_F(ExportJobTest, TheLanguageIsReadOnlyWhenTheRecordHoldsIt) {
  KVEDestinationOptions record = kvtest::PointerRecord({L"work", L"secret", FolderReport, nullptr});
  kvtest::GuardedPage page;
  struct Case {
    size_t structSize;
    int code;
    DWORD language;
  } cases[] = {
      {sizeof(KVEExportInfo), KVE_OK, 0x0407},
      {offsetof(KVEExportInfo, language) + sizeof(DWORD), KVE_OK, 0x0407},
      {offsetof(KVEExportInfo, language), KVE_OK, LANG_USER_DEFAULT},
      {offsetof(KVEExportInfo, files) + sizeof(void*), KVE_OK, LANG_USER_DEFAULT},
      {offsetof(KVEExportInfo, files) + sizeof(void*) - 1, KVE_BAD_ARGUMENT, 0},
      {0, KVE_BAD_ARGUMENT, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("structSize " + std::to_string(c.structSize));
    KVEExportInfo info = info_;
    info.structSize = static_cast<uint16_t>(c.structSize);
    info.language = 0x0407;
    // The record ends with its structSize (at least with its file list): a
    // read of the language beyond it would fault.
    size_t placed = std::max(c.structSize, offsetof(KVEExportInfo, files) + sizeof(void*));
    ASSERT_EQ(c.code, Init(&record, page.PlaceAtEnd<KVEExportInfo>(&info, placed)));
    if (c.code == KVE_OK) {
      EXPECT_EQ(c.language, Job().language);
    }
    Term();
  }
}

TEST_F(ExportJobTest, MissingArgumentsAreRefusedOnceMapiIsInitialized) {
  // So the host's KVETermExportDestinationW with null balances every call.
  KVEDestinationOptions record = kvtest::PointerRecord({L"work", L"secret", FolderReport, nullptr});
  ClearTrace();
  EXPECT_EQ(KVE_BAD_ARGUMENT, InitExportDestination(nullptr, &record, nullptr, &job_, &record_));
  EXPECT_EQ(KVE_BAD_ARGUMENT, InitExportDestination(nullptr, &record, &info_, nullptr, &record_));
  EXPECT_EQ(2u, TraceLines("MAPI::MAPIInitialize").size()) << Trace();
  Term();
  Term();
}

TEST_F(ExportJobTest, RunningOutOfMemoryAtEachAllocation) {
  const OptionsText text = {L"work", L"secret", FolderReport, L"Mailbox#Inbox"};
  std::vector<unsigned char> block = kvtest::NativeBlock(text);
  KVEDestinationOptions pointerRecord = kvtest::PointerRecord(text);
  struct Case {
    const char* what;
    const KVEDestinationOptions* options;
  } cases[] = {
      {"pointer record", &pointerRecord},
      {"block", reinterpret_cast<const KVEDestinationOptions*>(block.data())},
  };
  // Without the trace (Wine keeps heap blocks of file writes), after a first
  // job and a first refusal have let the process settle what it keeps.
  SetEnvironmentVariableW(KV_MAPI_TRACE_VARIABLE, nullptr);
  ASSERT_EQ(KVE_OK, Init(&pointerRecord));
  Term();
  {
    kvtest::ScopedAllocationFailure failure(1);
    EXPECT_EQ(KVE_NO_MEMORY, Init(&pointerRecord));
  }
  Term();
  for (const Case& c : cases) {
    const long heapBlocks = kvtest::CountModuleHeapBlocks();
    int refused = 0;
    for (int nth = 1;; ++nth) {
      SCOPED_TRACE(std::string(c.what) + ", allocation " + std::to_string(nth) + " fails");
      int code;
      bool failed;
      {
        kvtest::ScopedAllocationFailure failure(nth);
        code = Init(c.options);
        failed = failure.failed();
      }
      // The identity is optional: running out of memory there still succeeds.
      const int success = KVE_OK;
      EXPECT_TRUE(code == KVE_NO_MEMORY || code == success) << "code " << code;
      refused += code == KVE_NO_MEMORY;
      EXPECT_EQ(code == KVE_OK, job_ != nullptr);
      Term();
      ExpectNothingHeld();
      EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks()) << "module heap blocks left behind";
      if (!failed) {
        EXPECT_EQ(success, code);
        break;
      }
      ASSERT_LT(nth, 100);
    }
    EXPECT_GE(refused, 7) << c.what << ": job, names (array and two), copies, logon name";
  }
}

// (A failed KVEInitExportDestinationW destroys its job, so only a test sees
// the logon's message.)
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
