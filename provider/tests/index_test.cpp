// A folder's index never loses or hides a message: a shortened or damaged
// index is rebuilt from the message files, readers pass over a damaged line,
// a posting is placed only under the index lock, the next writer indexes
// what a killed posting left and deletes left-over files, and an index of
// any size lists.
#include "provider_fixture.h"

#include <algorithm>
#include <thread>

#include "files.h"
#include "folder_counts.h"
#include "folder_index.h"
#include "folder_repair.h"
#include "posting_client.h"

namespace provider_test {

// Postings made as the module makes them.
using namespace posting_client;
namespace {

class IndexTest : public ProviderTest {
 protected:
  void SetUp() override {
    ProviderTest::SetUp();
    MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}}, {L"Mailbox#Reports"}, true);
    ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"Reports", reports_));
    session_ = LogonOrFail(L"Work");
    store_ = OpenStore(session_.get(), L"Mailbox");
    ASSERT_TRUE(store_);
  }
  void TearDown() override {
    store_.reset();
    session_.reset();
    ProviderTest::TearDown();
  }

  Folder Reports(ULONG flags) { return OpenPath(store_.get(), {L"Reports"}, flags); }
  // Through the folder given, else through one opened for this.
  void Post(const std::vector<std::wstring>& names, IMAPIFolder* into = nullptr) {
    Folder opened;
    if (!into) {
      opened = Reports(MAPI_BEST_ACCESS);
      into = opened.get();
    }
    ASSERT_TRUE(into);
    for (const std::wstring& name : names) {
      Posting posting;
      posting.postedName = name;
      ASSERT_EQ(S_OK, PostThroughMapi(into, posting));
    }
  }
  // What a contents table lists, read without opening the folder for writing.
  std::vector<std::string> Subjects(bool sorted = true) {
    std::vector<std::string> subjects;
    Folder folder = Reports(MAPI_BEST_ACCESS);
    Table table;
    EXPECT_EQ(S_OK, folder->GetContentsTable(0, table.put()));
    if (!table) return subjects;
    for (const auto& row : ReadAll(table.get(), {PR_SUBJECT_A})) subjects.push_back(row[0]);
    if (sorted) std::sort(subjects.begin(), subjects.end());
    return subjects;
  }
  std::string IndexBytes() {
    std::string bytes;
    provider::ReadWholeFile(provider::IndexPath(reports_.directory), bytes);
    return bytes;
  }
  void SetIndexBytes(const std::string& bytes) {
    ASSERT_TRUE(provider::WriteFileAtomically(provider::IndexPath(reports_.directory), bytes));
  }
  // The note a posting killed between placing its file and writing its
  // line leaves under the index lock.
  void LeavePlacingNote() {
    provider::IndexWriter writer(reports_.directory);
    ASSERT_EQ(provider::StoreResult::Ok, writer.Begin());
    ASSERT_EQ(provider::StoreResult::Ok, writer.NotePlacing(provider::NewObjectId()));
  }
  std::vector<std::wstring> MessageFiles() { return MessageFilesOf(reports_.directory); }
  void EmptyFolder() {
    for (const std::wstring& name : MessageFiles())
      DeleteFileW((reports_.directory + L"\\" + name).c_str());
    DeleteFileW(provider::IndexPath(reports_.directory).c_str());
  }
  // The header's counts describe the whole file.
  void ExpectHeaderCovers(ULONG contents) {
    const std::string bytes = IndexBytes();
    provider::IndexCounts counts;
    uint64_t covered = 0;
    ASSERT_TRUE(provider::ParseIndexHeader(bytes.data(), bytes.size(), counts, covered));
    EXPECT_EQ(contents, counts.contents);
    EXPECT_EQ(bytes.size(), covered);
  }

  // The Reports row of the top of information store's hierarchy table, as
  // the folder dialog reads it: "<subfolders> <contents> <associated>".
  std::string ReportsRow() {
    Folder top = OpenPath(store_.get(), {});
    Table table;
    EXPECT_EQ(S_OK, top->GetHierarchyTable(0, table.put()));
    if (!table) return "no table";
    for (const auto& row :
         ReadAll(table.get(), {PR_DISPLAY_NAME_A, PR_SUBFOLDERS, PR_CONTENT_COUNT, PR_ASSOC_CONTENT_COUNT}))
      if (row[0] == "Reports") return row[1] + " " + row[2] + " " + row[3];
    return "no row";
  }
  std::string CountsBytes() {
    std::string bytes;
    provider::ReadWholeFile(provider::SubfolderCountsPath(provider::ParentFolderDirectory(reports_.directory)), bytes);
    return bytes;
  }

  provider::FolderRecord reports_;
  Session session_;
  Store store_;
};

TEST_F(IndexTest, AShortenedIndexIsRebuiltFromTheMessageFiles) {
  // The next posting through the folder that made the index, or the next
  // opening for writing.
  enum class Then { Posting, OpeningForWriting };
  struct Case {
    const char* what;
    size_t (*cut)(const std::string& bytes);  // the length left
    Then then;
  } cases[] = {
      {"cut to 0 bytes, then a posting", [](const std::string&) -> size_t { return 0; }, Then::Posting},
      {"cut to 0 bytes, then opened for writing", [](const std::string&) -> size_t { return 0; }, Then::OpeningForWriting},
      {"cut inside the header", [](const std::string&) -> size_t { return 20; }, Then::Posting},
      {"cut after the first line", [](const std::string& b) { return b.find('\n', provider::kIndexHeaderBytes) + 1; },
       Then::Posting},
      {"cut inside the second line",
       [](const std::string& b) { return b.find('\n', provider::kIndexHeaderBytes) + 10; }, Then::OpeningForWriting},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmptyFolder();
    Folder folder = Reports(MAPI_MODIFY);
    ASSERT_NO_FATAL_FAILURE(Post({L"one", L"two", L"three"}, folder.get()));
    const std::string bytes = IndexBytes();
    ASSERT_NO_FATAL_FAILURE(SetIndexBytes(bytes.substr(0, c.cut(bytes))));
    std::vector<provider::admin::MessageSummary> listed;
    provider::IndexDamage damage;
    std::wstring error;
    ASSERT_TRUE(provider::admin::ListMessages(profilesPath_, L"", L"Mailbox#Reports", listed, error, &damage));
    EXPECT_NE(std::wstring::npos, provider::admin::FormatMessages(L"Mailbox#Reports", listed, damage)
                                      .find(L"kvmapi-admin repair rebuilds it"))
        << "a listing of a cut index says that it is damaged";
    std::vector<std::string> expected = {"one", "three", "two"};
    if (c.then == Then::Posting) {
      ASSERT_NO_FATAL_FAILURE(Post({L"four"}, folder.get()));
      expected = {"four", "one", "three", "two"};
    } else {
      EXPECT_TRUE(Reports(MAPI_MODIFY));
    }
    EXPECT_EQ(expected, Subjects());
    ExpectHeaderCovers(static_cast<ULONG>(expected.size()));
  }
}

TEST_F(IndexTest, ADamagedLineIsPassedOverByReadersAndRepairedByWriters) {
  ASSERT_NO_FATAL_FAILURE(Post({L"one", L"two", L"three"}));
  std::string bytes = IndexBytes();
  const size_t second = bytes.find('\n', provider::kIndexHeaderBytes) + 1;
  bytes[second + 5] = 'z';  // in the id: the size stays, the header still covers the file
  ASSERT_NO_FATAL_FAILURE(SetIndexBytes(bytes));

  EXPECT_EQ((std::vector<std::string>{"one", "three"}), Subjects(false)) << "readers pass over the damaged line";
  std::vector<provider::admin::MessageSummary> messages;
  provider::IndexDamage damage;
  std::wstring error;
  ASSERT_TRUE(provider::admin::ListMessages(profilesPath_, L"", L"Mailbox#Reports", messages, error, &damage));
  EXPECT_EQ(2u, messages.size());
  EXPECT_EQ(1u, damage.badLines);
  EXPECT_EQ(3u, damage.firstBadLine) << "the header is line 1";
  const std::wstring listing = provider::admin::FormatMessages(L"Mailbox#Reports", messages, damage);
  EXPECT_NE(std::wstring::npos, listing.find(L"holds 1 damaged line, the first is line 3")) << provider::ToUtf8(listing);

  EXPECT_TRUE(Reports(MAPI_MODIFY)) << "opening for writing rebuilds the index";
  EXPECT_EQ((std::vector<std::string>{"one", "three", "two"}), Subjects());
  ExpectHeaderCovers(3);
  ASSERT_NO_FATAL_FAILURE(Post({L"four"}));
  EXPECT_EQ(4u, Subjects().size());
}

TEST_F(IndexTest, APostingIsPlacedOnlyWhileItHoldsTheIndexLock) {
  Folder folder = Reports(MAPI_MODIFY);
  ASSERT_TRUE(folder);
  HRESULT posted = E_FAIL;
  std::unique_ptr<provider::FileLock> lock(new provider::FileLock(provider::IndexLockPath(reports_.directory), 1000));
  ASSERT_TRUE(lock->held());
  std::thread poster([&] {
    Posting posting;
    posting.postedName = L"waited";
    posted = PostThroughMapi(folder.get(), posting);
  });
  for (int i = 0; i < 500 && MessageFiles().empty(); ++i) Sleep(10);
  Sleep(700);  // long enough to reach SaveChanges and wait there
  const std::vector<std::wstring> whileLocked = MessageFiles();
  lock.reset();
  poster.join();
  ASSERT_EQ(1u, whileLocked.size());
  EXPECT_EQ(L".tmp", whileLocked[0].substr(whileLocked[0].size() - 4))
      << "no message file may be placed before its line can be written";
  EXPECT_EQ(S_OK, posted);
  EXPECT_EQ((std::vector<std::string>{"waited"}), Subjects());
}

TEST_F(IndexTest, WritersIndexWhatAKilledPostingLeftAndDeleteLeftOverFiles) {
  ASSERT_NO_FATAL_FAILURE(Post({L"one", L"two"}));
  const std::string beforeOrphan = IndexBytes();
  // A composition in progress elsewhere: its .tmp is held open.
  Folder composing = Reports(MAPI_BEST_ACCESS);
  UniqueInterface<IMessage> draft;
  ASSERT_EQ(S_OK, composing->CreateMessage(nullptr, 0, draft.put()));
  // A posting whose line never made it, and a composition whose process is
  // gone (a whole .tmp nobody holds).
  ASSERT_NO_FATAL_FAILURE(Post({L"orphan"}));
  ASSERT_NO_FATAL_FAILURE(SetIndexBytes(beforeOrphan));
  const provider::ObjectId staleId = provider::NewObjectId();
  const std::wstring stale = provider::ComposingPath(reports_.directory, staleId);
  ASSERT_TRUE(provider::CreateDirectoryTree(provider::ComposingDirectory(reports_.directory)));
  ASSERT_TRUE(provider::WriteFileAtomically(stale, "a whole composition left by a crash"));
  ASSERT_EQ(5u, MessageFiles().size());
  ASSERT_EQ((std::vector<std::string>{"one", "two"}), Subjects()) << "the orphan is not listed yet";

  // Without a trace of the posting (a system crash), opening for writing
  // does not read every file to find it; kvmapi-admin repair does.
  EXPECT_TRUE(Reports(MAPI_MODIFY));
  EXPECT_EQ((std::vector<std::string>{"one", "two"}), Subjects());
  EXPECT_FALSE(provider::FileExists(stale)) << "a .tmp no process holds is deleted";
  EXPECT_EQ(4u, MessageFiles().size()) << "three messages and the composition in progress";
  // Killed while it placed its file, the posting left its note: the next
  // writer, here a composition opened before, indexes the orphan.
  ASSERT_NO_FATAL_FAILURE(LeavePlacingNote());
  SPropValue subject = {};
  subject.ulPropTag = PR_SUBJECT_A;
  subject.Value.lpszA = const_cast<char*>("late");
  ASSERT_EQ(S_OK, draft->SetProps(1, &subject, nullptr));
  EXPECT_EQ(S_OK, draft->SaveChanges(0)) << "the composition's file was left alone";
  EXPECT_EQ((std::vector<std::string>{"late", "one", "orphan", "two"}), Subjects());
}

TEST_F(IndexTest, FolderRowsKeepTheirCountsThroughPostingsFoldersAndRepairs) {
  EXPECT_EQ("false 0 0", ReportsRow());
  ASSERT_NO_FATAL_FAILURE(Post({L"one", L"two"}));
  {
    Folder folder = Reports(MAPI_BEST_ACCESS);
    Posting report;
    report.postedName = L"Monthly.rpt";
    report.associated = true;
    ASSERT_EQ(S_OK, PostThroughMapi(folder.get(), report));
  }
  EXPECT_EQ("false 2 1", ReportsRow()) << "each posting counts in its folder's row";
  {
    Folder folder = Reports(MAPI_MODIFY);
    Folder sub;
    ASSERT_EQ(S_OK, folder->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"Sub")), nullptr,
                                         nullptr, MAPI_UNICODE, sub.put()));
  }
  EXPECT_EQ("true 2 1", ReportsRow()) << "a new subfolder shows in its parent's row";

  // A posting killed between placing its file and writing its line and count.
  const std::string indexBefore = IndexBytes(), countsBefore = CountsBytes();
  ASSERT_NO_FATAL_FAILURE(Post({L"orphan"}));
  ASSERT_NO_FATAL_FAILURE(SetIndexBytes(indexBefore));
  ASSERT_TRUE(provider::WriteFileAtomically(
      provider::SubfolderCountsPath(provider::ParentFolderDirectory(reports_.directory)), countsBefore));
  ASSERT_NO_FATAL_FAILURE(LeavePlacingNote());
  EXPECT_EQ("true 2 1", ReportsRow());
  EXPECT_TRUE(Reports(MAPI_MODIFY)) << "opening for writing indexes the orphan";
  EXPECT_EQ("true 3 1", ReportsRow()) << "and its row follows";

  // A store written before the rows' records: read from the folders, and
  // given records again by kvmapi-admin repair.
  ASSERT_TRUE(DeleteFileW(provider::SubfolderCountsPath(provider::ParentFolderDirectory(reports_.directory)).c_str()));
  EXPECT_EQ("true 3 1", ReportsRow());
  std::vector<provider::admin::FolderRepair> repairs;
  std::wstring error;
  ASSERT_TRUE(provider::admin::RepairFolders(profilesPath_, L"", L"Mailbox", true, repairs, error));
  provider::SubfolderCounts records;
  ASSERT_EQ(provider::StoreResult::Ok,
            provider::ReadSubfolderCounts(provider::ParentFolderDirectory(reports_.directory), records));
  ASSERT_EQ(1u, records.count(reports_.id));
  EXPECT_TRUE(records[reports_.id].hasSubfolders);
  EXPECT_EQ(3u, records[reports_.id].counts.contents);
  EXPECT_EQ(1u, records[reports_.id].counts.associated);
  EXPECT_EQ("true 3 1", ReportsRow());
}

TEST_F(IndexTest, AnIndexOverSixtyFourMiBListsAndCounts) {
  constexpr ULONG kMessages = 90000;  // lines of about 750 bytes
  const std::wstring padding(230, L'x');
  for (ULONG first = 0; first < kMessages; first += 10000) {
    std::vector<provider::IndexEntry> entries;
    for (ULONG i = first; i < first + 10000; ++i) {
      provider::IndexEntry entry;
      entry.id = provider::NewObjectId();
      wchar_t number[16];
      swprintf(number, 16, L"%06lu ", static_cast<unsigned long>(i));
      entry.properties.push_back(provider::Value::Text(PR_SUBJECT_W, number + padding));
      entry.properties.push_back(provider::Value::Text(PR_SENDER_NAME_W, padding));
      entry.properties.push_back(provider::Value::Text(PR_DISPLAY_NAME_W, padding));
      entries.push_back(std::move(entry));
    }
    ASSERT_EQ(provider::StoreResult::Ok, AddIndexEntries(reports_.directory, entries));
  }
  WIN32_FILE_ATTRIBUTE_DATA index = {};
  ASSERT_TRUE(GetFileAttributesExW(provider::IndexPath(reports_.directory).c_str(), GetFileExInfoStandard, &index));
  ASSERT_GT(index.nFileSizeLow, 64u << 20);
  Folder folder = Reports(MAPI_BEST_ACCESS);
  Table table;
  ASSERT_EQ(S_OK, folder->GetContentsTable(0, table.put()));
  ULONG rows = 0;
  EXPECT_EQ(S_OK, table->GetRowCount(0, &rows));
  EXPECT_EQ(kMessages, rows);
  SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_A}};
  ASSERT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
  auto subjectAt = [&](BOOKMARK origin, LONG offset) {
    EXPECT_EQ(S_OK, table->SeekRow(origin, offset, nullptr));
    SRowSet* raw = nullptr;
    EXPECT_EQ(S_OK, table->QueryRows(1, 0, &raw));
    Rows row(raw);
    return row && row->cRows == 1 ? std::string(row->aRow[0].lpProps[0].Value.lpszA).substr(0, 6) : std::string();
  };
  EXPECT_EQ("000000", subjectAt(BOOKMARK_BEGINNING, 0));
  EXPECT_EQ("089999", subjectAt(BOOKMARK_END, -1));
  EXPECT_EQ("045000", subjectAt(BOOKMARK_BEGINNING, 45000));
  SizedSPropTagArray(1, counted) = {1, {PR_CONTENT_COUNT}};
  ULONG count = 0;
  LPSPropValue raw = nullptr;
  ASSERT_EQ(S_OK, folder->GetProps(reinterpret_cast<LPSPropTagArray>(&counted), 0, &count, &raw));
  Buffer<SPropValue> value(raw);
  EXPECT_EQ(static_cast<LONG>(kMessages), value->Value.l);
}

// An attachment's data stream announces its size: what the message file
// (2 GiB - 1 bytes) cannot hold is refused at once, before anything is written.
TEST_F(IndexTest, AttachmentStreamsRefuseWhatTheMessageFileCannotHold) {
  Folder folder = Reports(MAPI_MODIFY);
  UniqueInterface<IMessage> message;
  ASSERT_EQ(S_OK, folder->CreateMessage(nullptr, 0, message.put()));
  UniqueInterface<IAttach> attachment;
  ULONG number = 0;
  ASSERT_EQ(S_OK, message->CreateAttach(nullptr, 0, &number, attachment.put()));
  UniqueInterface<IStream> stream;
  ASSERT_EQ(S_OK, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_WRITE | STGM_CREATE,
                                           MAPI_CREATE | MAPI_MODIFY, stream.putUnknown()));
  auto fileSize = [this] {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    const std::wstring tmp = reports_.directory + L"\\" + MessageFiles()[0];
    GetFileAttributesExW(tmp.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  };
  const uint64_t before = fileSize();
  struct Case {
    uint64_t size;
    HRESULT expected;
  } cases[] = {
      {3ull << 30, MAPI_E_TOO_BIG},
      {0x7FFFFFFF, MAPI_E_TOO_BIG},  // the file's own tables need room too
      {2140000000, MAPI_E_TOO_BIG},
      {2100000000, S_OK},
      {10000, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    ULARGE_INTEGER size;
    size.QuadPart = c.size;
    EXPECT_EQ(c.expected, stream->SetSize(size));
  }
  static const BYTE bytes[4000] = {1, 2, 3};
  ULONG written = 0xdeadbeef;
  EXPECT_EQ(MAPI_E_TOO_BIG, stream->Write(bytes, 0x90000000, &written)) << "refused before a byte is read";
  EXPECT_EQ(0u, written);
  EXPECT_EQ(before, fileSize()) << "nothing was written for the refused sizes";
  ASSERT_EQ(S_OK, stream->Write(bytes, sizeof bytes, &written));
  ULARGE_INTEGER smaller;
  smaller.QuadPart = 100;
  EXPECT_EQ(STG_E_INVALIDFUNCTION, stream->SetSize(smaller)) << "written data is never cut";
  stream.reset();
  ASSERT_EQ(S_OK, attachment->SaveChanges(0));
  ASSERT_EQ(S_OK, message->SaveChanges(0));
  SizedSPropTagArray(1, tags) = {1, {PR_ATTACH_SIZE}};
  ULONG count = 0;
  LPSPropValue raw = nullptr;
  ASSERT_EQ(S_OK, attachment->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw));
  Buffer<SPropValue> value(raw);
  EXPECT_LE(4000, value->Value.l) << "the data is what was written, the announced size added nothing";
  EXPECT_GT(4200, value->Value.l);
}

}  // namespace
}  // namespace provider_test
