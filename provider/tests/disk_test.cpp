// What lies on disk: damaged folder files give MAPI_E_CORRUPT_DATA instead of
// a crash, a logon never creates a store, and writers working at the same
// time lose nothing.
#include "provider_fixture.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "files.h"
#include "folder_index.h"
#include "store_layout.h"

namespace provider_test {
namespace {

class DiskTest : public ProviderTest {
 protected:
  void SetUp() override {
    ProviderTest::SetUp();
    MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}}, {L"Mailbox#Inbox#Reports"});
    ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"Inbox", inbox_));
    ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"", top_));
  }
  provider::FolderRecord inbox_, top_;
};

TEST_F(DiskTest, DamagedFilesAreCorruptData) {
  enum class Step { Hierarchy, OpenFolder };
  struct Case {
    const char* what;
    std::wstring file;
    std::string text;
    Step failingStep;
  } cases[] = {
      // The parent lists its subfolders from its own list: a damaged folder
      // file spoils opening that folder, not listing its siblings.
      {"folder identity", inbox_.directory + L"\\folder.kvf", "Id=12\r\nName=\\q\r\n", Step::OpenFolder},
      {"subfolder list", top_.directory + L"\\subfolders.kvl", "Format=1\r\nnot-an-id\tfolder\tInbox\tInbox\t\r\n",
       Step::Hierarchy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string original;
    provider::ReadWholeFile(c.file, original);
    ASSERT_TRUE(provider::WriteFileAtomically(c.file, c.text));
    {
      Session session = LogonOrFail(L"Work");
      Store store = OpenStore(session.get(), L"Mailbox");
      Folder top = OpenTop(store.get());
      ASSERT_TRUE(top);
      Table table;
      if (c.failingStep == Step::Hierarchy) {
        EXPECT_EQ(MAPI_E_CORRUPT_DATA, top->GetHierarchyTable(0, table.put()));
      } else {
        ASSERT_EQ(S_OK, top->GetHierarchyTable(0, table.put()));
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        ASSERT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
        SRowSet* raw = nullptr;
        ASSERT_EQ(S_OK, table->QueryRows(10, 0, &raw));
        Rows rows(raw);
        ASSERT_EQ(1u, rows->cRows);
        const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
        Folder inbox;
        ULONG type = 0;
        EXPECT_EQ(MAPI_E_CORRUPT_DATA, store->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), &IID_IMAPIFolder,
                                                        MAPI_BEST_ACCESS, &type, inbox.putUnknown()));
        EXPECT_FALSE(inbox);
        table.reset();
      }
      EXPECT_FALSE(table);
    }
    if (original.empty()) {
      DeleteFileW(c.file.c_str());
    } else {
      ASSERT_TRUE(provider::WriteFileAtomically(c.file, original));
    }
  }
}

// A profile whose directory was cut short or points elsewhere: the logon
// succeeds, the store is listed and refuses to open, and nothing is written.
TEST_F(DiskTest, ALogonNeverCreatesAStore) {
  const std::wstring foreign = directory_ + L"\\documents";
  const std::wstring empty = directory_ + L"\\empty";
  ASSERT_TRUE(CreateDirectoryW(foreign.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
  ASSERT_TRUE(provider::WriteFileAtomically(foreign + L"\\letter.txt", "Dear ..."));
  const std::wstring damaged = directory_ + L"\\damaged";
  ASSERT_TRUE(CreateDirectoryW(damaged.c_str(), nullptr));
  ASSERT_TRUE(provider::WriteFileAtomically(damaged + L"\\store.kvs", "Format=1\r\nId=zz\r\n"));
  struct Case {
    const wchar_t* name;
    std::wstring directory;
    HRESULT open;
  } cases[] = {
      {L"Cut short", directory_ + L"\\mail", MAPI_E_NOT_FOUND},
      {L"Missing", directory_ + L"\\nowhere\\mailbox", MAPI_E_NOT_FOUND},
      {L"Empty directory", empty, MAPI_E_NOT_FOUND},
      {L"Foreign directory", foreign, MAPI_E_NOT_FOUND},
      {L"Damaged store file", damaged, MAPI_E_CORRUPT_DATA},
  };
  provider::ProfilesFile file;
  ASSERT_EQ(provider::ProfilesStatus::Ok, provider::LoadProfiles(profilesPath_, file, nullptr));
  for (const Case& c : cases) {
    provider::StoreConfig store;
    store.name = c.name;
    store.directory = c.directory;
    file.profiles[0].stores.push_back(store);
  }
  ASSERT_TRUE(provider::SaveProfiles(profilesPath_, file));
  Session session = LogonOrFail(L"Work");
  ASSERT_TRUE(session);
  for (const Case& c : cases) {
    SCOPED_TRACE(provider::ToUtf8(c.name));
    Store store = OpenStore(session.get(), c.name, MDB_WRITE, c.open);
    EXPECT_FALSE(store);
  }
  Store mailbox = OpenStore(session.get(), L"Mailbox");
  EXPECT_TRUE(mailbox) << "the profile's good store opens as before";
  EXPECT_FALSE(provider::DirectoryExists(directory_ + L"\\mail"));
  EXPECT_FALSE(provider::DirectoryExists(directory_ + L"\\nowhere"));
  EXPECT_EQ(std::vector<std::wstring>{}, FilesIn(empty)) << "nothing may be written into an empty directory";
  EXPECT_EQ(std::vector<std::wstring>{L"letter.txt"}, FilesIn(foreign)) << "nor into a foreign one";
  std::vector<std::wstring> directories;
  provider::ListDirectories(empty, directories);
  EXPECT_TRUE(directories.empty());
}

TEST_F(DiskTest, FoldersCreatedAtTheSameTimeAreAllKept) {
  constexpr int kEach = 15;
  auto worker = [&](wchar_t prefix, HRESULT* failure) {
    Session session;
    if (FAILED(*failure = Logon(L"Work", nullptr, 0, session))) return;
    Store store = OpenStore(session.get(), L"Mailbox");
    Folder inbox = OpenPath(store.get(), {L"Inbox"}, MAPI_MODIFY);
    if (!inbox) {
      *failure = E_FAIL;
      return;
    }
    for (int i = 0; i < kEach; ++i) {
      std::wstring name = std::wstring(1, prefix) + L"-" + std::to_wstring(i);
      const wchar_t* names[] = {name.c_str(), L"Shared"};
      for (const wchar_t* folderName : names) {
        Folder created;
        HRESULT hr = inbox->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(folderName)), nullptr,
                                         nullptr, MAPI_UNICODE | OPEN_IF_EXISTS, created.put());
        if (FAILED(hr)) *failure = hr;
      }
    }
  };
  HRESULT first = S_OK, second = S_OK;
  std::thread a(worker, L'A', &first);
  std::thread b(worker, L'B', &second);
  a.join();
  b.join();
  EXPECT_EQ(S_OK, first);
  EXPECT_EQ(S_OK, second);
  Session session = LogonOrFail(L"Work");
  Store store = OpenStore(session.get(), L"Mailbox");
  Folder inbox = OpenPath(store.get(), {L"Inbox"});
  ASSERT_TRUE(inbox);
  Table table;
  ASSERT_EQ(S_OK, inbox->GetHierarchyTable(0, table.put()));
  auto rows = ReadAll(table.get(), {PR_DISPLAY_NAME_A});
  EXPECT_EQ(static_cast<size_t>(2 * kEach + 2), rows.size()) << "Reports, Shared once, and every A- and B- folder";
  size_t shared = 0;
  for (const auto& row : rows) shared += row[0] == "Shared";
  EXPECT_EQ(1u, shared);
}

// Two writers and a reader from the moment the index does not exist yet: the
// reader never meets a half-made index, and no line is lost.
TEST_F(DiskTest, IndexUpdatesAtTheSameTimeAreAllKept) {
  constexpr int kEach = 40;
  std::atomic<int> writing{2};
  auto worker = [&](bool associated, bool* ok) {
    *ok = true;
    for (int i = 0; i < kEach; ++i) {
      provider::IndexEntry entry;
      entry.id = provider::NewObjectId();
      entry.associated = associated;
      if (AddIndexEntries(inbox_.directory, {entry}) != provider::StoreResult::Ok) *ok = false;
    }
    --writing;
  };
  std::string readerProblem;
  auto reader = [&] {
    ULONG seen = 0;
    while (writing > 0 && readerProblem.empty()) {
      provider::IndexCounts counts;
      std::vector<provider::IndexEntry> entries;
      provider::IndexDamage damage;
      if (provider::ReadIndexCounts(inbox_.directory, counts) != provider::StoreResult::Ok ||
          provider::ReadFolderIndex(inbox_.directory, entries, &damage) != provider::StoreResult::Ok)
        readerProblem = "a read failed";
      else if (damage.header || damage.badLines > 0 || damage.cut)
        readerProblem = "a reader met a damaged index";
      else if (counts.contents + counts.associated < seen)
        readerProblem = "the counts went back";
      seen = counts.contents + counts.associated;
    }
  };
  bool okA = false, okB = false;
  std::thread c(reader);
  std::thread a(worker, false, &okA);
  std::thread b(worker, true, &okB);
  a.join();
  b.join();
  c.join();
  EXPECT_TRUE(okA);
  EXPECT_TRUE(okB);
  EXPECT_EQ("", readerProblem);
  Session session = LogonOrFail(L"Work");
  Store store = OpenStore(session.get(), L"Mailbox");
  Folder inbox = OpenPath(store.get(), {L"Inbox"});
  ASSERT_TRUE(inbox);
  SizedSPropTagArray(2, tags) = {2, {PR_CONTENT_COUNT, PR_ASSOC_CONTENT_COUNT}};
  ULONG count = 0;
  LPSPropValue raw = nullptr;
  ASSERT_EQ(S_OK, inbox->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw));
  Buffer<SPropValue> values(raw);
  EXPECT_EQ(kEach, values.get()[0].Value.l);
  EXPECT_EQ(kEach, values.get()[1].Value.l);
}

// A writer killed between its line and its header leaves either a torn line
// or a whole line the header does not count; readers and the next writer
// must get both right.
TEST_F(DiskTest, AnIndexLeftHalfUpdatedIsReadRightAndRepairedByTheNextSave) {
  auto entry = [](bool associated, const wchar_t* subject) {
    provider::IndexEntry e;
    e.id = provider::NewObjectId();
    e.associated = associated;
    e.properties.push_back(provider::Value::Text(PR_SUBJECT_W, subject));
    return e;
  };
  provider::IndexEntry unheaded = entry(false, L"counted by readers");
  std::string unheadedLine = provider::IndexLine(unheaded);
  struct Case {
    const char* what;
    std::string tail;
    provider::IndexCounts damaged;
    std::vector<std::string> subjects;
  } cases[] = {
      {"torn last line", unheadedLine.substr(0, 30), {2, 1}, {"one", "two"}},
      {"whole line, header not yet written", unheadedLine, {3, 1}, {"one", "two", "counted by readers"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(provider::IndexPath(inbox_.directory).c_str());
    for (const provider::IndexEntry& e : {entry(false, L"one"), entry(true, L"associated"), entry(false, L"two")})
      ASSERT_EQ(provider::StoreResult::Ok, AddIndexEntries(inbox_.directory, {e}));
    {
      kvcommon::UniqueFile file(CreateFileW(provider::IndexPath(inbox_.directory).c_str(), FILE_APPEND_DATA, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(file.get(), c.tail.data(), static_cast<DWORD>(c.tail.size()), &written, nullptr));
    }
    provider::IndexCounts counts;
    ASSERT_EQ(provider::StoreResult::Ok, provider::ReadIndexCounts(inbox_.directory, counts));
    EXPECT_EQ(c.damaged.contents, counts.contents);
    EXPECT_EQ(c.damaged.associated, counts.associated);
    {
      Session session = LogonOrFail(L"Work");
      Store store = OpenStore(session.get(), L"Mailbox");
      Folder inbox = OpenPath(store.get(), {L"Inbox"});
      ASSERT_TRUE(inbox);
      Table table;
      ASSERT_EQ(S_OK, inbox->GetContentsTable(0, table.put()));
      std::vector<std::string> subjects;
      for (const auto& row : ReadAll(table.get(), {PR_SUBJECT_A})) subjects.push_back(row[0]);
      EXPECT_EQ(c.subjects, subjects);
    }
    ASSERT_EQ(provider::StoreResult::Ok, AddIndexEntries(inbox_.directory, {entry(true, L"next")}));
    ASSERT_EQ(provider::StoreResult::Ok, provider::ReadIndexCounts(inbox_.directory, counts));
    EXPECT_EQ(c.damaged.contents, counts.contents);
    EXPECT_EQ(c.damaged.associated + 1, counts.associated);
    std::string bytes;
    ASSERT_EQ(provider::FileRead::Ok, provider::ReadWholeFile(provider::IndexPath(inbox_.directory), bytes));
    std::vector<provider::IndexEntry> entries;
    ASSERT_EQ(provider::StoreResult::Ok, provider::ReadFolderIndex(inbox_.directory, entries));
    EXPECT_EQ(c.subjects.size() + 2, entries.size());
    // The header now covers the whole file again: it holds the same counts.
    char header[64] = {};
    snprintf(header, sizeof header, "KVIDX 2 %010lu %010lu %020llu\n", static_cast<unsigned long>(counts.contents),
             static_cast<unsigned long>(counts.associated), static_cast<unsigned long long>(bytes.size()));
    EXPECT_EQ(std::string(header), bytes.substr(0, bytes.find('\n') + 1));
  }
}

}  // namespace
}  // namespace provider_test
