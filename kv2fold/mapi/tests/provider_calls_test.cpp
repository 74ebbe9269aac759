// The posting and the table wrapper against our MAPI32.DLL, in the test
// program: the file written in 4096-byte pieces, what each failing step of a
// posting returns (nothing stored, everything released), and a busy or
// failing table call waited for once and its own result passed on.
#include <windows.h>

#include <mapitags.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "interface/export_job.h"
#include "mapi/folder_resolution.h"
#include "mapi/mapi_table.h"
#include "mapi/report_posting.h"
#include "mapi/session_logon.h"
#include "tests/support/provider_in_process.h"

namespace {

using Bytes = std::vector<BYTE>;

constexpr HRESULT kTimeout = static_cast<HRESULT>(0x80040401);     // MAPI_E_TIMEOUT
constexpr HRESULT kMediumFull = static_cast<HRESULT>(0x80030070);  // STG_E_MEDIUMFULL

using kvtest::Pattern;

SizedSPropTagArray(1, g_subjectColumn) = {1, {PR_SUBJECT_W}};
const SPropTagArray* SubjectColumn() { return reinterpret_cast<const SPropTagArray*>(&g_subjectColumn); }

class ProviderCallsTest : public kvtest::ProviderInProcessTest {
 protected:
  void SetUp() override {
    ProviderInProcessTest::SetUp();
    if (HasFatalFailure()) return;
    job_ = CreateExportJob(nullptr);
    job_->silent = 1;
    ASSERT_EQ(KVE_OK, LogonProfile(*job_, L"Work", L"secret"));
    ASSERT_EQ(S_OK, ResolveFolderPath(job_->session.get(), L"Mailbox#Inbox#Reports", 1, store_, reports_));
  }
  void TearDown() override {
    reports_.reset();
    store_.reset();
    if (job_) DestroyExportJob(job_);
    ProviderInProcessTest::TearDown();
  }
  HRESULT PostDocument(const Bytes& content) {
    wchar_t messageClass[64] = L"IPM.Document.*pdf";
    const std::wstring path = MakeFile(L"source.pdf", content);
    return Post(path, L"QuarterlyResults.pdf", messageClass);
  }
  HRESULT Post(const std::wstring& path, const wchar_t* postedName, wchar_t* messageClass) {
    PostingRequest request;
    request.sourcePath = path.c_str();
    request.postedName = postedName;
    request.extension = L"pdf";
    request.messageClass = messageClass;
    return PostReportFile(reports_.get(), request);
  }
  // The messages the folder lists.
  ULONG StoredCount() {
    CMAPITable table;
    EXPECT_EQ(1, table.OpenContentsTable(reports_.get()));
    EXPECT_EQ(1, table.Prepare(SubjectColumn(), nullptr, nullptr));
    return table.rowCount;
  }

  ExportJob* job_ = nullptr;
  MAPIInterface<IMsgStore> store_;
  MAPIInterface<IMAPIFolder> reports_;
};

TEST_F(ProviderCallsTest, TheFileIsWrittenInPiecesOf4096Bytes) {
  struct Case {
    size_t size;
    std::vector<unsigned long> writes;
  } cases[] = {{0, {}}, {1, {1}}, {4096, {4096}}, {5000, {4096, 904}}, {9000, {4096, 4096, 808}}};
  ULONG stored = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes");
    ClearTrace();
    ASSERT_EQ(S_OK, PostDocument(Pattern(c.size)));
    std::vector<unsigned long> writes;
    for (const std::string& line : TraceLines("IStream::Write")) {
      writes.push_back(std::strtoul(line.c_str() + line.find("flags=") + 6, nullptr, 16));  // the byte count
    }
    EXPECT_EQ(c.writes, writes);
    EXPECT_EQ(++stored, StoredCount());
  }
}

TEST_F(ProviderCallsTest, AFailingStepIsReportedAndLeavesNothingStored) {
  const Bytes content = Pattern(9000);
  struct Case {
    const char* call;
    unsigned nth;
    HRESULT fault;
    HRESULT result;
  } cases[] = {
      {"IMAPIFolder::CreateMessage", 1, MAPI_E_NO_ACCESS, MAPI_E_NO_ACCESS},
      {"IMessage::SetProps", 1, MAPI_E_NO_SUPPORT, MAPI_E_NO_SUPPORT},
      {"IMessage::CreateAttach", 1, MAPI_E_CALL_FAILED, MAPI_E_CALL_FAILED},
      {"IAttach::SetProps", 1, MAPI_E_INVALID_PARAMETER, MAPI_E_INVALID_PARAMETER},
      {"IAttach::OpenProperty", 1, MAPI_E_NO_SUPPORT, MAPI_E_NO_SUPPORT},
      {"IStream::Write", 2, kMediumFull, kMediumFull},
      {"IAttach::SaveChanges", 1, MAPI_E_NOT_ENOUGH_DISK, MAPI_E_NOT_ENOUGH_DISK},
      {"IMessage::SaveChanges", 1, MAPI_E_NOT_ENOUGH_DISK, MAPI_E_NOT_ENOUGH_DISK},
      // A read flag that cannot be cleared changes nothing that matters.
      {"IMessage::SetReadFlag", 1, MAPI_E_NO_SUPPORT, S_OK},
  };
  const LONG held = liveObjects_();  // the session, the store and the folder
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.nth));
    Fail(c.call, c.fault, c.nth);
    EXPECT_EQ(c.result, PostDocument(content));
    clearFaults_();
    EXPECT_EQ(c.result == S_OK ? 1u : 0u, StoredCount());
    EXPECT_EQ(held, liveObjects_()) << "message, attachment and stream released";
    EXPECT_EQ(0, outstandingBuffers_());
  }
  wchar_t messageClass[64] = L"IPM.Document.*pdf";
  EXPECT_EQ(E_FAIL, Post(folder_ + L"\\missing.pdf", L"missing.pdf", messageClass));
  EXPECT_EQ(1u, StoredCount()) << "a file that cannot be read posts nothing";
  EXPECT_EQ(held, liveObjects_());
}

TEST_F(ProviderCallsTest, ABusyOrFailingTableCallIsWaitedForOnceAndPassesItsResultOn) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(S_OK, PostDocument(Pattern(10)));
  struct Case {
    const char* call;
    HRESULT fault;
    HRESULT waitResult;
    int prepared;        // what Prepare answers
    size_t rowsRead;     // what NextRow then hands out
    HRESULT lastResult;  // after reading
  } cases[] = {
      {"IMAPITable::Restrict", MAPI_E_BUSY, S_OK, 1, 3, S_OK},
      {"IMAPITable::Restrict", MAPI_E_BUSY, kTimeout, 0, 0, kTimeout},
      {"IMAPITable::SortTable", MAPI_E_BUSY, S_OK, 1, 3, S_OK},
      {"IMAPITable::SortTable", MAPI_E_BUSY, MAPI_E_CALL_FAILED, 0, 0, MAPI_E_CALL_FAILED},
      {"IMAPITable::SetColumns", MAPI_E_BUSY, S_OK, 1, 3, S_OK},
      {"IMAPITable::SetColumns", MAPI_E_BUSY, kTimeout, 0, 0, kTimeout},
      {"IMAPITable::SeekRow", MAPI_E_BUSY, S_OK, 1, 3, S_OK},
      {"IMAPITable::SeekRow", MAPI_E_BUSY, kTimeout, 0, 0, kTimeout},
      {"IMAPITable::GetRowCount", MAPI_E_BUSY, kTimeout, 0, 0, kTimeout},
      // A busy query that the wait lets through delivered no rows: the scan ends.
      {"IMAPITable::QueryRows", MAPI_E_BUSY, S_OK, 1, 0, S_OK},
      {"IMAPITable::QueryRows", MAPI_E_BUSY, kTimeout, 1, 0, kTimeout},
      // Other failures are not waited for.
      {"IMAPITable::QueryRows", MAPI_E_NO_ACCESS, S_OK, 1, 0, MAPI_E_NO_ACCESS},
      {"IMAPITable::GetRowCount", MAPI_E_NO_SUPPORT, S_OK, 0, 0, MAPI_E_NO_SUPPORT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " fails with " + std::to_string(c.fault) + ", wait " +
                 std::to_string(c.waitResult));
    CMAPITable table;
    ASSERT_EQ(1, table.OpenContentsTable(reports_.get()));
    Fail(c.call, c.fault);
    if (c.waitResult != S_OK) Fail("IMAPITable::WaitForCompletion", c.waitResult);
    ClearTrace();
    SRestriction everything = {};  // an empty AND
    SSortOrderSet noOrder = {};
    EXPECT_EQ(c.prepared, table.Prepare(SubjectColumn(), &everything, &noOrder));
    size_t rowsRead = 0;
    while (c.prepared && table.NextRow()) ++rowsRead;
    EXPECT_EQ(c.rowsRead, rowsRead);
    EXPECT_EQ(c.lastResult, table.lastResult);
    const size_t waits = c.fault == MAPI_E_BUSY ? 1 : 0;
    EXPECT_EQ(waits, TraceLines("IMAPITable::WaitForCompletion").size()) << Trace();
    EXPECT_EQ(1u, TraceLines(std::string(c.call) + " flags=0x00000000 -> 0x8").size()) << "never repeated";
    clearFaults_();
  }
}

}  // namespace
