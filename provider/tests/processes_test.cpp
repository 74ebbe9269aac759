// Postings from other processes (provider_test_poster.exe): two processes
// saving into one folder at once, and one killed in the middle of a posting.
#include "provider_fixture.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "files.h"
#include "folder_index.h"
#include "posting_client.h"
#include "store_layout.h"

namespace provider_test {

// Postings made as the module makes them.
using namespace posting_client;
namespace {

using kvcommon::UniqueHandle;

class ProcessesTest : public ProviderTest {
 protected:
  void SetUp() override {
    ProviderTest::SetUp();
    MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}}, {L"Mailbox#Reports"});
    ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"Reports", reports_));
  }

  // Starts the poster with the profiles file of this test (inherited through
  // the environment); its output goes to a log shown when it fails.
  UniqueHandle Start(const std::wstring& arguments) {
    std::wstring log = directory_ + L"\\poster-" + std::to_wstring(++started_) + L".log";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    kvcommon::UniqueFile output(CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    logs_.push_back(log);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring program = self;
    program = program.substr(0, program.find_last_of(L"\\/") + 1) + L"provider_test_poster.exe";
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &process))
        << "cannot start " << provider::ToUtf8(program);
    if (process.hThread) CloseHandle(process.hThread);
    return UniqueHandle(process.hProcess);
  }

  DWORD Finish(const UniqueHandle& process) {
    if (!process) return 0xFFFFFFFF;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 180000));
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.get(), &code);
    return code;
  }
  void TearDown() override {
    if (HasFailure()) {
      for (const std::wstring& log : logs_) {
        std::string text;
        provider::ReadWholeFile(log, text);
        printf("---- %s\n%s", provider::ToUtf8(log).c_str(), text.c_str());
      }
    }
    ProviderTest::TearDown();
  }

  std::vector<std::wstring> MessageFiles() { return MessageFilesOf(reports_.directory); }

  provider::FolderRecord reports_;
  int started_ = 0;
  std::vector<std::wstring> logs_;
};

std::vector<uint8_t> AttachmentBytes(IMAPISession* session, const SBinary& entryId) {
  UniqueInterface<IMessage> message;
  ULONG type = 0;
  EXPECT_EQ(S_OK, session->OpenEntry(entryId.cb, reinterpret_cast<LPENTRYID>(entryId.lpb), &IID_IMessage, 0, &type,
                                     message.putUnknown()));
  UniqueInterface<IAttach> attachment;
  if (!message || FAILED(message->OpenAttach(0, nullptr, 0, attachment.put()))) return {};
  UniqueInterface<IStream> stream;
  if (FAILED(attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, stream.putUnknown()))) return {};
  std::vector<uint8_t> bytes;
  BYTE buffer[4096];
  ULONG read = 0;
  while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0) bytes.insert(bytes.end(), buffer, buffer + read);
  return bytes;
}

TEST_F(ProcessesTest, TwoProcessesSavingIntoOneFolderLoseNothing) {
  constexpr int kEach = 100;
  UniqueHandle first = Start(L"post Work Mailbox Reports " + std::to_wstring(kEach) + L" A");
  UniqueHandle second = Start(L"post Work Mailbox Reports " + std::to_wstring(kEach) + L" B");
  EXPECT_EQ(0u, Finish(first));
  EXPECT_EQ(0u, Finish(second));

  Session session = LogonOrFail(L"Work");
  Store store = OpenStore(session.get(), L"Mailbox");
  Folder folder = OpenPath(store.get(), {L"Reports"});
  ASSERT_TRUE(folder);
  Table table;
  ASSERT_EQ(S_OK, folder->GetContentsTable(MAPI_UNICODE, table.put()));
  SizedSPropTagArray(2, columns) = {2, {PR_SUBJECT_W, PR_ENTRYID}};
  ASSERT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
  SRowSet* raw = nullptr;
  ASSERT_EQ(S_OK, table->QueryRows(1000, 0, &raw));
  Rows rows(raw);
  std::set<std::wstring> expected, seen;
  for (int i = 0; i < kEach; ++i) {
    expected.insert(SeriesName(L"A", i));
    expected.insert(SeriesName(L"B", i));
  }
  for (ULONG i = 0; i < rows->cRows; ++i) {
    std::wstring subject = rows->aRow[i].lpProps[0].Value.lpszW;
    SCOPED_TRACE(provider::ToUtf8(subject));
    EXPECT_TRUE(seen.insert(subject).second) << "listed twice";
    EXPECT_TRUE(SeriesBytes(subject) == AttachmentBytes(session.get(), rows->aRow[i].lpProps[1].Value.bin))
        << "attachment bytes differ";
  }
  EXPECT_EQ(expected, seen);
  provider::IndexCounts counts;
  ASSERT_EQ(provider::StoreResult::Ok, provider::ReadIndexCounts(reports_.directory, counts));
  EXPECT_EQ(static_cast<ULONG>(2 * kEach), counts.contents);
  EXPECT_EQ(static_cast<size_t>(2 * kEach), MessageFiles().size()) << "one file per message, nothing else";
}

TEST_F(ProcessesTest, AProcessKilledHalfWayLeavesOnlyWhatItSaved) {
  std::wstring eventName = L"kvprov-halfway-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
  UniqueHandle halfway(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(halfway);
  UniqueHandle poster = Start(L"hold Work Mailbox Reports " + eventName);
  ASSERT_TRUE(poster);
  HANDLE waits[] = {halfway.get(), poster.get()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 120000)) << "the poster ended before half-way";
  EXPECT_EQ(2u, MessageFiles().size()) << "the saved message and the one being written aside";
  ASSERT_TRUE(TerminateProcess(poster.get(), 9));
  EXPECT_EQ(9u, Finish(poster));

  Session session = LogonOrFail(L"Work");
  Store store = OpenStore(session.get(), L"Mailbox");
  Folder folder = OpenPath(store.get(), {L"Reports"}, MAPI_MODIFY);
  ASSERT_TRUE(folder);
  Table table;
  ASSERT_EQ(S_OK, folder->GetContentsTable(0, table.put()));
  std::vector<std::vector<std::string>> expected = {{"complete.bin"}};
  EXPECT_EQ(expected, ReadAll(table.get(), {PR_SUBJECT_A}));
  std::vector<std::wstring> files = MessageFiles();
  ASSERT_EQ(1u, files.size()) << "the half-written message must leave no file";
  EXPECT_EQ(L".msg", files[0].substr(files[0].size() - 4));
  // The folder takes the next posting as usual.
  Posting next;
  next.bytes = SeriesBytes(L"next");
  EXPECT_EQ(S_OK, PostThroughMapi(folder.get(), next));
  table.reset();
  ASSERT_EQ(S_OK, folder->GetContentsTable(0, table.put()));
  EXPECT_EQ(2u, ReadAll(table.get(), {PR_SUBJECT_A}).size());
}

}  // namespace
}  // namespace provider_test
