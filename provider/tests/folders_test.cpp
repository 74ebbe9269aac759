// Stores and folders: the store's special folders, a folder tree read through
// hierarchy tables, folders created through MAPI that survive the session,
// hostile names that stay inside the store, and read-only marks.
#include "provider_fixture.h"

#include <algorithm>
#include <functional>
#include <set>

#include "store_layout.h"

namespace provider_test {
namespace {

class FoldersTest : public ProviderTest {
 protected:
  std::vector<BYTE> EntryIdOf(IMAPIProp* object) {
    LPSPropValue raw = nullptr;
    EXPECT_EQ(S_OK, HrGetOneProp(object, PR_ENTRYID, &raw));
    Buffer<SPropValue> value(raw);
    if (!value) return {};
    return std::vector<BYTE>(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
  }

  // "Name(sub, sub(...))" for a folder's subtree, read through hierarchy tables
  // with the columns the module's folder tree uses.
  std::string Tree(IMsgStore* store, IMAPIFolder* folder) {
    Table table;
    EXPECT_EQ(S_OK, folder->GetHierarchyTable(0, table.put()));
    if (!table) return "?";
    SizedSPropTagArray(4, columns) = {4, {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_SUBFOLDERS, PR_CONTENT_COUNT}};
    EXPECT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    SRowSet* raw = nullptr;
    EXPECT_EQ(S_OK, table->QueryRows(50, 0, &raw));
    Rows rows(raw);
    std::string out;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
      const SPropValue* cells = rows->aRow[i].lpProps;
      if (!out.empty()) out += ", ";
      out += cells[1].Value.lpszA;
      if (!cells[2].Value.b) continue;
      Folder child;
      ULONG type = 0;
      EXPECT_EQ(S_OK, store->OpenEntry(cells[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(cells[0].Value.bin.lpb),
                                       &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type, child.putUnknown()));
      if (child) out += "(" + Tree(store, child.get()) + ")";
    }
    return out;
  }

  std::vector<std::wstring> ChildNames(IMAPIFolder* folder) {
    Table table;
    EXPECT_EQ(S_OK, folder->GetHierarchyTable(MAPI_UNICODE, table.put()));
    std::vector<std::wstring> names;
    if (!table) return names;
    // Straight from the rows: any text conversion would hide a name that is not valid UTF-16.
    SizedSPropTagArray(1, columns) = {1, {PR_DISPLAY_NAME_W}};
    EXPECT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    SRowSet* raw = nullptr;
    EXPECT_EQ(S_OK, table->QueryRows(1000, 0, &raw));
    Rows rows(raw);
    for (ULONG i = 0; rows && i < rows->cRows; ++i) names.push_back(rows->aRow[i].lpProps[0].Value.lpszW);
    return names;
  }
};

TEST_F(FoldersTest, StoreNamesItsSpecialFolders) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}});
  Session session = LogonOrFail(L"Work");
  ASSERT_TRUE(session);
  Store store = OpenStore(session.get(), L"Mailbox", MDB_WRITE | MDB_NO_DIALOG);
  ASSERT_TRUE(store);
  SizedSPropTagArray(5, tags) = {5, {PR_DISPLAY_NAME_A, PR_ENTRYID, PR_IPM_SUBTREE_ENTRYID, PR_VALID_FOLDER_MASK,
                                     PR_COMMON_VIEWS_ENTRYID}};
  ULONG count = 0;
  LPSPropValue raw = nullptr;
  ASSERT_EQ(S_OK, store->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw));
  Buffer<SPropValue> values(raw);
  ASSERT_EQ(5u, count);
  for (ULONG i = 0; i < count; ++i) EXPECT_EQ(tags.aulPropTag[i], values.get()[i].ulPropTag) << "value " << i;
  EXPECT_STREQ("Mailbox", values.get()[0].Value.lpszA);
  ULONG mask = static_cast<ULONG>(values.get()[3].Value.l);
  EXPECT_EQ(static_cast<ULONG>(FOLDER_IPM_SUBTREE_VALID | FOLDER_COMMON_VIEWS_VALID),
            mask & (FOLDER_IPM_SUBTREE_VALID | FOLDER_COMMON_VIEWS_VALID));
  for (int slot : {2, 4}) {
    Folder folder;
    ULONG type = 0;
    const SBinary& id = values.get()[slot].Value.bin;
    ASSERT_EQ(S_OK, store->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MAPI_BEST_ACCESS, &type,
                                     folder.putUnknown()));
    EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), type);
    EXPECT_EQ(std::vector<BYTE>(id.lpb, id.lpb + id.cb), EntryIdOf(folder.get()));
  }
  // An empty entry identifier opens the root, whose hierarchy holds both.
  Folder root;
  ULONG type = 0;
  ASSERT_EQ(S_OK, store->OpenEntry(0, nullptr, nullptr, 0, &type, root.putUnknown()));
  EXPECT_EQ((std::vector<std::wstring>{L"Common Views", L"Top of Information Store"}), ChildNames(root.get()));
  // A store asked for with MDB_WRITE says so.
  LPSPropValue support = nullptr;
  ASSERT_EQ(S_OK, HrGetOneProp(store.get(), PR_STORE_SUPPORT_MASK, &support));
  Buffer<SPropValue> supportValue(support);
  EXPECT_NE(0u, static_cast<ULONG>(supportValue->Value.l) & STORE_MODIFY_OK);
}

TEST_F(FoldersTest, ThreeLevelTreeThroughHierarchyTables) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}},
              {L"Mailbox#Inbox#Reports#2024", L"Mailbox#Inbox#Reports#2023", L"Mailbox#Inbox#Drafts", L"Mailbox#Archive"});
  Session session = LogonOrFail(L"Work");
  ASSERT_TRUE(session);
  Store store = OpenStore(session.get(), L"Mailbox");
  ASSERT_TRUE(store);
  Folder top = OpenTop(store.get());
  ASSERT_TRUE(top);
  EXPECT_EQ("Archive, Inbox(Drafts, Reports(2023, 2024))", Tree(store.get(), top.get()));

  // The folder's own properties agree with its row.
  Folder reports = OpenPath(store.get(), {L"Inbox", L"Reports"});
  ASSERT_TRUE(reports);
  SizedSPropTagArray(6, tags) = {6, {PR_DISPLAY_NAME_A, PR_DISPLAY_NAME_W, PR_SUBFOLDERS, PR_CONTENT_COUNT,
                                     PR_ASSOC_CONTENT_COUNT, PR_ENTRYID}};
  ULONG count = 0;
  LPSPropValue raw = nullptr;
  ASSERT_EQ(S_OK, reports->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw));
  Buffer<SPropValue> values(raw);
  EXPECT_STREQ("Reports", values.get()[0].Value.lpszA);
  EXPECT_STREQ(L"Reports", values.get()[1].Value.lpszW);
  EXPECT_TRUE(values.get()[2].Value.b);
  EXPECT_EQ(0, values.get()[3].Value.l);
  EXPECT_EQ(0, values.get()[4].Value.l);
  EXPECT_EQ(72u, values.get()[5].Value.bin.cb);

  // With CONVENIENT_DEPTH the whole subtree comes in one table, depth by depth.
  Table all;
  ASSERT_EQ(S_OK, top->GetHierarchyTable(CONVENIENT_DEPTH, all.put()));
  std::vector<std::vector<std::string>> expected = {{"Archive", "1"}, {"Inbox", "1"}, {"Drafts", "2"},
                                                    {"Reports", "2"}, {"2023", "3"},  {"2024", "3"}};
  EXPECT_EQ(expected, ReadAll(all.get(), {PR_DISPLAY_NAME_A, PR_DEPTH}));
}

// Stores made before folders kept subfolder lists: their folders are listed
// from their directories, and the first folder created in one writes a list
// that names the older subfolders too.
TEST_F(FoldersTest, FoldersWithoutASubfolderListAreListedFromTheirDirectories) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}},
              {L"Mailbox#Inbox#Reports#2024", L"Mailbox#Inbox#Reports#2023", L"Mailbox#Inbox#Drafts", L"Mailbox#Archive"});
  std::function<void(const std::wstring&)> removeLists = [&](const std::wstring& directory) {
    DeleteFileW((directory + L"\\subfolders.kvl").c_str());
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\folders\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found) != FALSE) {
      if (found.cFileName[0] != L'.') removeLists(directory + L"\\folders\\" + found.cFileName);
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
  };
  removeLists(directory_ + L"\\mailbox");
  Session session = LogonOrFail(L"Work");
  ASSERT_TRUE(session);
  Store store = OpenStore(session.get(), L"Mailbox");
  ASSERT_TRUE(store);
  Folder top = OpenTop(store.get());
  ASSERT_TRUE(top);
  EXPECT_EQ("Archive, Inbox(Drafts, Reports(2023, 2024))", Tree(store.get(), top.get()));

  Folder inbox = OpenPath(store.get(), {L"Inbox"}, MAPI_MODIFY);
  ASSERT_TRUE(inbox);
  Folder budget;
  ASSERT_EQ(S_OK, inbox->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"Budget")), nullptr,
                                      nullptr, MAPI_UNICODE, budget.put()));
  provider::FolderRecord inboxRecord;
  ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"Inbox", inboxRecord));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((inboxRecord.directory + L"\\subfolders.kvl").c_str()));
  EXPECT_EQ("Archive, Inbox(Budget, Drafts, Reports(2023, 2024))", Tree(store.get(), top.get()));
}

TEST_F(FoldersTest, CreatedFoldersSurviveTheSessionWithTheirIdentifiers) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}});
  std::vector<BYTE> created;
  {
    Session session = LogonOrFail(L"Work");
    Store store = OpenStore(session.get(), L"Mailbox");
    Folder top = OpenTop(store.get(), MAPI_MODIFY);
    ASSERT_TRUE(top);
    Folder folder;
    ASSERT_EQ(S_OK, top->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"Quarterly")),
                                      nullptr, nullptr, MAPI_UNICODE, folder.put()));
    created = EntryIdOf(folder.get());
    Folder again;
    char narrowName[] = "Quarterly";
    EXPECT_EQ(MAPI_E_COLLISION, top->CreateFolder(FOLDER_GENERIC, narrowName, nullptr, nullptr, 0, again.put()));
    EXPECT_FALSE(again);
    ASSERT_EQ(S_OK, top->CreateFolder(FOLDER_GENERIC, narrowName, nullptr, nullptr, OPEN_IF_EXISTS, again.put()));
    EXPECT_EQ(created, EntryIdOf(again.get())) << "OPEN_IF_EXISTS opens the existing folder";
    Folder other;
    char empty[] = "";
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, top->CreateFolder(FOLDER_GENERIC, empty, nullptr, nullptr, 0, other.put()));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, top->CreateFolder(FOLDER_SEARCH, narrowName, nullptr, nullptr, 0, other.put()));
  }
  Session session = LogonOrFail(L"Work");
  Store store = OpenStore(session.get(), L"Mailbox");
  Folder folder = OpenPath(store.get(), {L"Quarterly"});
  ASSERT_TRUE(folder);
  EXPECT_EQ(created, EntryIdOf(folder.get())) << "entry identifiers must be stable across sessions";
  ULONG type = 0;
  Folder byId;
  ASSERT_EQ(S_OK, session->OpenEntry(static_cast<ULONG>(created.size()), reinterpret_cast<LPENTRYID>(created.data()),
                                     &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type, byId.putUnknown()));
  EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), type);
}

TEST_F(FoldersTest, HostileNamesStayInsideTheStoreAndComeBackUnchanged) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"box"}});
  std::vector<std::wstring> names = {
      L"#",         L"Team#Reports", L"a/b",       L"a\\b",       L"C:\\Windows", L"..",   L"../../escape",
      L"..\\..\\escape", L".hidden", L"...",       L"trailing.",  L"trailing ",   L" lead", L"CON",
      L"nul.txt",   L"LPT1",         L"x:y",       L"<>|?*\"",    L"%41",         L"Reports", L"reports",
      L"REPORTS",   L"Grüße ∑ \U0001F600", L"tab\there", L"line\nbreak", std::wstring(300, L'n'),
      std::wstring(299, L'n') + L".", std::wstring(1, static_cast<wchar_t>(0xD800)) + L"lone"};
  {
    Session session = LogonOrFail(L"Work");
    Store store = OpenStore(session.get(), L"Mailbox");
    Folder top = OpenTop(store.get(), MAPI_MODIFY);
    ASSERT_TRUE(top);
    for (const std::wstring& name : names) {
      Folder folder;
      EXPECT_EQ(S_OK, top->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(name.c_str())),
                                        nullptr, nullptr, MAPI_UNICODE, folder.put()))
          << provider::ToUtf8(name);
      // A child under each proves the directory is a real, usable folder.
      Folder child;
      EXPECT_EQ(S_OK, folder->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"inner")),
                                           nullptr, nullptr, MAPI_UNICODE, child.put()));
    }
  }
  // Another session, as another process would see it.
  Session session = LogonOrFail(L"Work");
  Store store = OpenStore(session.get(), L"Mailbox");
  Folder top = OpenTop(store.get());
  std::vector<std::wstring> seen = ChildNames(top.get());
  std::multiset<std::wstring> expected(names.begin(), names.end());
  EXPECT_EQ(expected, std::multiset<std::wstring>(seen.begin(), seen.end()));
  for (const std::wstring& name : names) {
    Folder folder = OpenPath(store.get(), {name});
    ASSERT_TRUE(folder) << provider::ToUtf8(name);
    EXPECT_EQ(std::vector<std::wstring>{L"inner"}, ChildNames(folder.get())) << provider::ToUtf8(name);
  }
  // Nothing was written beside the store, and every directory inside it is one the layout made.
  std::vector<std::wstring> beside;
  ASSERT_TRUE(provider::ListDirectories(directory_, beside));
  EXPECT_EQ(std::vector<std::wstring>{L"box"}, beside);
  std::function<void(const std::wstring&)> check = [&](const std::wstring& folderDirectory) {
    std::vector<std::wstring> entries;
    ASSERT_TRUE(provider::ListDirectories(folderDirectory + L"\\folders", entries));
    for (const std::wstring& entry : entries) {
      EXPECT_EQ(std::wstring::npos, entry.find_first_of(L"/\\:<>|?*\"")) << provider::ToUtf8(entry);
      EXPECT_NE(L'.', entry.front()) << provider::ToUtf8(entry);
      EXPECT_LE(entry.size(), 90u);
      EXPECT_TRUE(provider::FileExists(folderDirectory + L"\\folders\\" + entry + L"\\folder.kvf")) << provider::ToUtf8(entry);
      check(folderDirectory + L"\\folders\\" + entry);
    }
  };
  check(directory_ + L"\\box");
}

TEST_F(FoldersTest, ReadOnlyStoresAndFoldersRefuseWriteAccess) {
  provider::admin::ProfileRequest request;
  request.profile.name = L"Work";
  provider::StoreConfig mailbox, archive;
  mailbox.name = L"Mailbox";
  mailbox.directory = directory_ + L"\\mailbox";
  archive.name = L"Archive";
  archive.directory = directory_ + L"\\archive";
  archive.readOnly = true;
  request.profile.stores = {mailbox, archive};
  request.folders = {L"Mailbox#Inbox#Locked#Below", L"Mailbox#Inbox#Open", L"Archive#Old"};
  request.readOnlyFolders = {L"Mailbox#Inbox#Locked"};
  std::wstring error;
  ASSERT_TRUE(provider::admin::CreateProfile(profilesPath_, request, error)) << provider::ToUtf8(error);

  Session session = LogonOrFail(L"Work");
  ASSERT_TRUE(session);
  // A read-only store: no MDB_WRITE, and what it holds opens read-only.
  Store archiveWrite = OpenStore(session.get(), L"Archive", MDB_WRITE, MAPI_E_NO_ACCESS);
  EXPECT_FALSE(archiveWrite);
  Store archiveStore = OpenStore(session.get(), L"Archive", 0);
  ASSERT_TRUE(archiveStore);
  Folder old = OpenPath(archiveStore.get(), {L"Old"}, MAPI_BEST_ACCESS);
  ASSERT_TRUE(old);
  LPMESSAGE message = reinterpret_cast<LPMESSAGE>(0xdeadbeef);
  EXPECT_EQ(MAPI_E_NO_ACCESS, old->CreateMessage(nullptr, 0, &message));
  EXPECT_EQ(nullptr, message);
  Folder created;
  char name[] = "New";
  EXPECT_EQ(MAPI_E_NO_ACCESS, old->CreateFolder(FOLDER_GENERIC, name, nullptr, nullptr, 0, created.put()));

  // A read-only folder in a writable store.
  Store mailboxStore = OpenStore(session.get(), L"Mailbox", MDB_WRITE);
  ASSERT_TRUE(mailboxStore);
  Folder inbox = OpenPath(mailboxStore.get(), {L"Inbox"});
  ASSERT_TRUE(inbox);
  struct Case {
    std::vector<std::wstring> path;
    ULONG flags;
    HRESULT open;
    HRESULT createMessage;
  } cases[] = {
      {{L"Inbox", L"Locked"}, MAPI_MODIFY, MAPI_E_NO_ACCESS, S_OK},
      {{L"Inbox", L"Locked"}, MAPI_BEST_ACCESS, S_OK, MAPI_E_NO_ACCESS},
      {{L"Inbox", L"Locked"}, 0, S_OK, MAPI_E_NO_ACCESS},
      {{L"Inbox", L"Locked", L"Below"}, MAPI_MODIFY, S_OK, S_OK},  // the mark is the folder's alone
      {{L"Inbox", L"Open"}, MAPI_MODIFY, S_OK, S_OK},
      {{L"Inbox", L"Open"}, 0, S_OK, MAPI_E_NO_ACCESS},  // opened read-only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(provider::ToUtf8(c.path.back()) + " flags " + std::to_string(c.flags));
    Folder parent = OpenPath(mailboxStore.get(), std::vector<std::wstring>(c.path.begin(), c.path.end() - 1));
    ASSERT_TRUE(parent);
    Table table;
    ASSERT_EQ(S_OK, parent->GetHierarchyTable(MAPI_UNICODE, table.put()));
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_W, PR_ENTRYID}};
    ASSERT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    SRowSet* raw = nullptr;
    ASSERT_EQ(S_OK, table->QueryRows(10, 0, &raw));
    Rows rows(raw);
    const SBinary* id = nullptr;
    for (ULONG i = 0; i < rows->cRows; ++i)
      if (c.path.back() == rows->aRow[i].lpProps[0].Value.lpszW) id = &rows->aRow[i].lpProps[1].Value.bin;
    ASSERT_NE(nullptr, id);
    Folder folder;
    ULONG type = 0;
    EXPECT_EQ(c.open, mailboxStore->OpenEntry(id->cb, reinterpret_cast<LPENTRYID>(id->lpb), &IID_IMAPIFolder, c.flags,
                                              &type, folder.putUnknown()));
    if (!folder) continue;
    message = reinterpret_cast<LPMESSAGE>(0xdeadbeef);
    EXPECT_EQ(c.createMessage, folder->CreateMessage(nullptr, 0, &message));
    UniqueInterface<IMessage> owned(message == reinterpret_cast<LPMESSAGE>(0xdeadbeef) ? nullptr : message);
    EXPECT_EQ(c.createMessage == S_OK, owned.get() != nullptr);
  }
}

}  // namespace
}  // namespace provider_test
