// Exports through the real KV2FOLD.dll into our MAPI32.DLL: every file lands
// with its values and exact bytes (read from the store's .msg files), the
// folder opened with the flags the trace shows, and bad input failing the way
// a host can tell (the texts' wording and languages are unit tests).
#include "tests/support/export_fixture.h"

namespace {

using namespace kvtest;

TEST_F(ExportThroughProviderTest, EveryFileLandsWithItsClassValuesAndExactBytes) {
  struct File {
    std::wstring name;
    Bytes bytes;
    std::wstring messageClass, shortName, extension;
  };
  const std::wstring longExtension(250, L'e');
  const File files[] = {
      {L"QuarterlyResults.pdf", Pattern(10000, 1), L"IPM.DOCUMENT.*PDF", L"Quarterl.pdf", L"pdf"},
      {L"b.txt", Pattern(8192, 2), L"IPM.DOCUMENT.*TXT", L"b.txt", L"txt"},
      {L"README", Pattern(0, 3), L"IPM.DOCUMENT.*", L"README", L""},
      // Class and extension longer than a message class holds: cut to 255.
      {L"x." + longExtension, Pattern(5, 4),
       (L"IPM.DOCUMENT.*" + std::wstring(250, L'E')).substr(0, 255), L"x." + longExtension, longExtension},
  };
  // The files are on disk under short names (a long one would not fit a
  // path); the host names them.
  std::vector<std::wstring> paths, names;
  for (const File& file : files) {
    paths.push_back(MakeFile(L"file" + std::to_wstring(paths.size()), file.bytes));
    names.push_back(file.name);
  }
  const LONGLONG before = Now();
  ClearTrace();
  const Outcome outcome = Export(reports_, paths, -1, 0x0409, &names);
  ASSERT_EQ(0, outcome.initCode);
  EXPECT_EQ(0, outcome.code);
  EXPECT_EQ(L"", outcome.text);
  // The folder opened once: the store silently, the path's folders with best
  // access, the last one to be written.
  EXPECT_EQ((std::vector<std::string>{"IMAPISession::OpenMsgStore flags=0x00000005 -> 0x00000000",
                                      "IMsgStore::OpenEntry flags=0x00000010 -> 0x00000000",
                                      "IMsgStore::OpenEntry flags=0x00000010 -> 0x00000000",
                                      "IMsgStore::OpenEntry flags=0x00000001 -> 0x00000000"}),
            FolderOpenings());
  EXPECT_EQ(4u, TraceLines("IMessage::SaveChanges flags=0x00000000 -> 0x00000000").size());

  const std::vector<StoredMessage> posted = Read(L"Inbox#Reports");
  ASSERT_EQ(4u, posted.size());
  const LONGLONG after = Now();
  for (size_t i = 0; i < 4; ++i) {
    const File& file = files[i];
    const StoredMessage& p = posted[i];
    SCOPED_TRACE(testing::PrintToString(file.messageClass));
    EXPECT_EQ(file.name, p.subject());
    EXPECT_EQ(file.name, p.Text(PR_CONVERSATION_TOPIC_W));
    EXPECT_EQ(file.messageClass, p.Text(PR_MESSAGE_CLASS_W));
    const LONGLONG submitted = p.Number(PR_CLIENT_SUBMIT_TIME);
    EXPECT_LE(before - 10000000, submitted) << "UTC, taken during the export";
    EXPECT_GE(after, submitted);
    EXPECT_EQ(submitted, p.Number(PR_MESSAGE_DELIVERY_TIME));
    EXPECT_EQ(1, p.Number(PR_IMPORTANCE));
    EXPECT_EQ(0, p.Number(PR_SENSITIVITY));
    EXPECT_EQ(0, p.Number(PR_MESSAGE_FLAGS) & MSGFLAG_READ) << "posted unread";
    EXPECT_EQ(L"Erika Mustermann", p.Text(PR_SENDER_NAME_W));
    EXPECT_EQ(L"Erika Mustermann", p.Text(PR_SENT_REPRESENTING_NAME_W));
    EXPECT_EQ(72u, p.Binary(PR_SENDER_ENTRYID).size());
    EXPECT_EQ(p.Binary(PR_SENDER_ENTRYID), p.Binary(PR_SENT_REPRESENTING_ENTRYID));
    const char key[] = "SMTP:ERIKA@EXAMPLE.ORG";
    EXPECT_EQ(Bytes(key, key + sizeof key), p.Binary(PR_SENDER_SEARCH_KEY));
    EXPECT_EQ(p.Binary(PR_SENDER_SEARCH_KEY), p.Binary(PR_SENT_REPRESENTING_SEARCH_KEY));
    EXPECT_EQ(file.name, p.Text(PR_ATTACH_LONG_FILENAME_W, true));
    EXPECT_EQ(file.name, p.Text(PR_DISPLAY_NAME_W, true));
    EXPECT_EQ(file.shortName, p.Text(PR_ATTACH_FILENAME_W, true));
    EXPECT_EQ(file.extension, p.Text(PR_ATTACH_EXTENSION_W, true));
    EXPECT_EQ(ATTACH_BY_VALUE, p.Number(PR_ATTACH_METHOD, true));
    EXPECT_EQ(file.bytes, p.data());
  }
}

TEST_F(ExportThroughProviderTest, PersonalReportsGoToCommonViewsAndAnEmptyComponentEndsThePath) {
  const std::wstring path = MakeFile(L"a.pdf", Pattern(100, 5));
  ASSERT_EQ(0, Export({L"Work", L"secret", PersonalReport, nullptr}, {path}).code);
  EXPECT_EQ(std::vector<std::wstring>{L"a.pdf"}, Subjects(L""));

  ClearTrace();
  ASSERT_EQ(0, Export({L"Work", L"secret", FolderReport, L"Mailbox#Inbox#"}, {path}).code);
  EXPECT_EQ(1u, Read(L"Inbox").size());
  EXPECT_EQ(0u, Read(L"Inbox#Reports").size());
  EXPECT_TRUE(TraceLines("IMsgStore::OpenEntry flags=0x00000001").empty()) << "Inbox is not the last component";
}

TEST_F(ExportThroughProviderTest, APathNamesEachFolderWholeAndExactlyOrNone) {
  // Siblings a cut or narrow comparison would confuse: a name of 79
  // characters and a longer one that starts with it, names that differ only
  // outside the ANSI code page, a name over 79 characters, a name with "#".
  const std::wstring x79(79, L'X');
  const std::wstring longName = std::wstring(100, L'L');
  const std::wstring chart = L"Berichte \U0001F4CA \u00DC", rising = L"Berichte \U0001F4C8 \u00DC";
  const std::vector<std::wstring> inbox = {x79, x79 + L"-secret", chart, rising, longName};
  std::vector<std::wstring> folders;
  for (const std::wstring& name : inbox) folders.push_back(L"Mailbox#Inbox#" + name);
  kvtest::RemoveTree(StoreDirectory(L"Work"));
  MakeProfile(L"Work", L"secret", false, folders);
  MakeFolderWithHash(L"Work");
  if (HasFatalFailure()) return;
  const std::wstring a = MakeFile(L"a.pdf", Pattern(100, 9));
  struct Case {
    std::wstring path;
    int code;
    std::wstring landedIn;  // the Inbox folder that holds the posting, none for a failure
  } cases[] = {
      {L"Mailbox#Inbox#" + x79 + L"-secret", 0, x79 + L"-secret"},
      {L"Mailbox#Inbox#" + x79, 0, x79},
      {L"Mailbox#Inbox#" + x79 + L"-does-not-exist", -1, L""},
      {L"Mailbox#Inbox#" + chart, 0, chart},
      {L"Mailbox#Inbox#" + rising, 0, rising},
      {L"Mailbox#Inbox#" + longName, 0, longName},
      {L"Mailbox#Inbox#" + longName.substr(0, 79), -1, L""},
      // "Q#1" splits into "Q" and "1": neither names a folder.
      {L"Mailbox#Inbox#Q#1", -1, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.path.size()) + " characters, ends " +
                 testing::PrintToString(std::string(c.path.end() - 8, c.path.end())));
    std::map<std::wstring, size_t> before;
    for (const std::wstring& name : inbox) before[name] = Read(L"Inbox#" + name).size();
    const Outcome outcome = Export({L"Work", L"secret", FolderReport, c.path.c_str()}, {a});
    ASSERT_EQ(0, outcome.initCode);
    EXPECT_EQ(c.code, outcome.code);
    for (const std::wstring& name : inbox) {
      EXPECT_EQ(before[name] + (name == c.landedIn ? 1 : 0), Read(L"Inbox#" + name).size())
          << "a posting landed where the path does not point";
    }
    if (c.code != 0) {
      EXPECT_EQ(L"MAPI object not found.", outcome.text);
    }
  }
  ExpectNothingHeld();
}

TEST_F(ExportThroughProviderTest, BadInputTellsTheHostWhatFailed) {
  const std::wstring a = MakeFile(L"a.pdf", Pattern(300, 6));
  const std::wstring b = MakeFile(L"b.txt", Pattern(20, 7));
  const std::wstring missing = folder_ + L"\\missing.pdf";
  const std::wstring gone = folder_ + L"\\gone.txt";
  const kvtest::OptionsText team = {L"Work", L"secret", FolderReport, L"Mailbox#Team"};
  struct Case {
    const char* what;
    kvtest::OptionsText options;
    std::vector<std::wstring> paths;
    int count;
    DWORD language;
    int code;
    std::wstring text;
    std::vector<std::wstring> landed;  // subjects in Inbox#Reports
  } cases[] = {
      {"two missing files", reports_, {missing, a, gone}, -1, 0x0409, -1,
       L"2 of 3 files were not posted. The first, \"missing.pdf\": MAPI_E_CALL_FAILED", {L"a.pdf"}},
      {"a read-only folder", team, {a}, -1, 0x0409, -1, L"No access right to post file to Exchange Folders.", {}},
      {"more paths than files", reports_, {a, b}, 3, 0x0409, 5, L"", {}},
      // Device names are no files: reading one could block forever.
      {"a device name", reports_, {a, folder_ + L"\\aux.pdf"}, -1, 0x0409, -1,
       L"The file \"aux.pdf\" was not posted: It is a device or a pipe, not a file on disk. (0x800700DE)", {L"a.pdf"}},
      {"the null device, German", reports_, {folder_ + L"\\NUL.txt"}, -1, 0x0407, -1,
       L"Die Datei \u201ENUL.txt\u201C wurde nicht bereitgestellt: Sie ist ein Ger\u00E4t oder eine Pipe, keine Datei "
       L"auf einem Datentr\u00E4ger. (0x800700DE)", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Each case starts with an empty folder.
    kvtest::RemoveTree(StoreDirectory(L"Work"));
    MakeProfile(L"Work", L"secret", false, {L"Mailbox#Inbox#Reports", L"Mailbox#Team"}, {L"Mailbox#Team"});
    const Outcome outcome = Export(c.options, c.paths, c.count, c.language);
    ASSERT_EQ(0, outcome.initCode);
    EXPECT_EQ(c.code, outcome.code);
    EXPECT_EQ(c.text, outcome.text);
    EXPECT_EQ(c.landed, Subjects(L"Inbox#Reports"));
    ExpectNothingHeld();
  }
}

TEST_F(ExportThroughProviderTest, AFailingTableScanIsReportedAsItselfNotAsAMissingName) {
  const std::wstring a = MakeFile(L"a.pdf", Pattern(300, 8));
  // The export's first QueryRows scans the stores, its second the folders below the top.
  struct Case {
    ULONG nth;
    HRESULT result;
    std::wstring text;
  } cases[] = {
      {1, MAPI_E_DISK_ERROR, L"The message store could not read or write its disk. (0x80040116)"},
      {2, MAPI_E_CALL_FAILED, L"MAPI_E_CALL_FAILED"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nth);
    beforeExport_ = [&] { ASSERT_EQ(S_OK, injectFault_("IMAPITable::QueryRows", c.nth, c.result)); };
    const Outcome outcome = Export(reports_, {a});
    EXPECT_EQ(-1, outcome.code);
    EXPECT_EQ(c.text, outcome.text);
    EXPECT_TRUE(Read(L"Inbox#Reports").empty());
  }
}

}  // namespace
