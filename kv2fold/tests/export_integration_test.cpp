// Exports as a host makes them, through the real KV2FOLD.dll into our
// MAPI32.DLL: every file lands as a message with its values and its exact
// bytes (read back through MAPI in a session of the test's own, and from the
// .msg files on disk), the folder is opened with the flags the trace shows,
// and bad input fails the way a host can tell: which file, which code,
// which message. Every test ends with the provider holding nothing.
#include <windows.h>

#include <mapitags.h>
#include <mapiutil.h>
#include <mapix.h>

#include <gtest/gtest.h>

#include <kvcommon/unique_resource.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <msgfile/message_reader.h>

#include "folder_index.h"
#include "interface/kve_api.h"
#include "store_layout.h"
#include "tests/support/mapi_reader.h"
#include "tests/support/options_blocks.h"
#include "tests/support/provider_fixture.h"

namespace {

using kvtest::Bytes;
using kvtest::MapiReader;
using kvtest::Posted;
using kvcommon::UniqueInterface;

std::wstring Text(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(L"<null>"); }

Bytes Pattern(size_t size, unsigned seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>((i * 31 + seed) ^ (i >> 9));
  return bytes;
}

LONGLONG Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

class ExportThroughProviderTest : public kvtest::ModuleThroughProviderTest {
 protected:
  void SetUp() override {
    ModuleThroughProviderTest::SetUp();
    MakeProfile(L"Work", L"secret", false, {L"Mailbox#Inbox#Reports", L"Mailbox#Team"}, {L"Mailbox#Team"});
  }

  struct Outcome {
    int initCode = -99;
    int code = -99;
    std::wstring text;
  };
  // One export as a host runs it: a job whose files are named by names
  // (default: the paths), the export of count of the paths (default: all),
  // the job's end.
  Outcome Export(const kvtest::OptionsText& options, const std::vector<std::wstring>& paths, int count = -1,
                 DWORD language = 0x0409, const std::vector<std::wstring>* names = nullptr) {
    std::vector<KVEExportFile> files(paths.size());
    std::vector<KVEExportFile*> filePointers;
    for (size_t i = 0; i < paths.size(); ++i) {
      files[i].structSize = sizeof(KVEExportFile);
      files[i].useFileName = 1;
      files[i].fileName = names ? (*names)[i].c_str() : paths[i].c_str();
      filePointers.push_back(&files[i]);
    }
    info_.fileCount = static_cast<uint16_t>(paths.size());
    info_.files = filePointers.data();
    info_.language = language;
    std::vector<const wchar_t*> pathPointers;
    for (const std::wstring& path : paths) pathPointers.push_back(path.c_str());
    KVEExportRequest request{};
    request.structSize = sizeof request;
    request.count = static_cast<uint16_t>(count < 0 ? paths.size() : static_cast<size_t>(count));
    request.paths = pathPointers.data();

    Outcome outcome;
    KVEDestinationOptions record = kvtest::PointerRecord(options);
    KVEJobHandle job = nullptr;
    outcome.initCode = initExport(nullptr, 0, &record, &info_, &job, nullptr);
    if (outcome.initCode != 0) return outcome;
    outcome.code = exportFiles(job, &request);
    outcome.text = Text(errorText(job));
    EXPECT_EQ(0, termExport(job, 0));
    return outcome;
  }

  std::vector<Posted> Read(const std::vector<std::wstring>& path) {
    return MapiReader(mapi_).Read(L"Work", L"secret", path);
  }

  // Class, subject and attachment data of each .msg file in a folder of
  // Work's store, by subject.
  struct MessageFile {
    std::wstring messageClass;
    Bytes data;
  };
  std::map<std::wstring, MessageFile> MessageFiles(const std::wstring& pathBelowTop) {
    std::map<std::wstring, MessageFile> files;
    std::unique_ptr<provider::StoreLayout> layout;
    provider::FolderRecord record;
    if (provider::StoreLayout::Open(StoreDirectory(L"Work"), layout) != provider::StoreResult::Ok ||
        layout->FindByPath(pathBelowTop, record) != provider::StoreResult::Ok) {
      ADD_FAILURE() << "no folder";
      return files;
    }
    const std::wstring directory = provider::MessagesDirectory(record.directory);
    WIN32_FIND_DATAW found;
    kvcommon::UniqueFind search(FindFirstFileW((directory + L"\\*.msg").c_str(), &found));
    for (bool more = search.valid(); more; more = FindNextFileW(search.get(), &found) != FALSE) {
      msgfile::MessageReader reader;
      EXPECT_EQ(S_OK, reader.Open((directory + L"\\" + found.cFileName).c_str()));
      msgfile::Property subject, messageClass, data;
      EXPECT_EQ(S_OK, reader.GetProperty(msgfile::ObjectRef::Message(), PR_SUBJECT_W, &subject));
      EXPECT_EQ(S_OK, reader.GetProperty(msgfile::ObjectRef::Message(), PR_MESSAGE_CLASS_W, &messageClass));
      EXPECT_EQ(S_OK, reader.GetProperty(msgfile::ObjectRef::Attachment(0), PR_ATTACH_DATA_BIN, &data));
      files[msgfile::UnicodeValue(subject)] = {msgfile::UnicodeValue(messageClass), Bytes(data.bytes.begin(), data.bytes.end())};
    }
    return files;
  }

  // The trace's store and folder openings.
  std::vector<std::string> FolderOpenings() {
    std::vector<std::string> lines = TraceLines("IMAPISession::OpenMsgStore");
    for (const std::string& line : TraceLines("IMsgStore::OpenEntry")) lines.push_back(line);
    return lines;
  }

  const kvtest::OptionsText reports_ = {L"Work", L"secret", FolderReport, L"Mailbox#Inbox#Reports"};
};

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
  DeleteFileW(tracePath_.c_str());
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

  const std::vector<Posted> posted = Read({L"Inbox", L"Reports"});
  ASSERT_EQ(4u, posted.size());
  const LONGLONG after = Now();
  for (size_t i = 0; i < 4; ++i) {
    const File& file = files[i];
    const Posted& p = posted[i];
    SCOPED_TRACE(testing::PrintToString(file.messageClass));
    EXPECT_EQ(file.name, p.subject);
    EXPECT_EQ(file.name, p.topic);
    EXPECT_EQ(file.messageClass, p.messageClass);
    EXPECT_LE(before - 10000000, p.submitted) << "UTC, taken during the export";
    EXPECT_GE(after, p.submitted);
    EXPECT_EQ(p.submitted, p.delivered);
    EXPECT_EQ(1, p.importance);
    EXPECT_EQ(0, p.sensitivity);
    EXPECT_FALSE(p.read) << "posted unread";
    EXPECT_EQ(L"Erika Mustermann", p.senderName);
    EXPECT_EQ(L"Erika Mustermann", p.representingName);
    EXPECT_EQ(72u, p.senderEntryId.size());
    EXPECT_EQ(p.senderEntryId, p.representingEntryId);
    const char key[] = "SMTP:ERIKA@EXAMPLE.ORG";
    EXPECT_EQ(Bytes(key, key + sizeof key), p.senderSearchKey);
    EXPECT_EQ(p.senderSearchKey, p.representingSearchKey);
    EXPECT_EQ(file.name, p.longName);
    EXPECT_EQ(file.name, p.attachmentDisplayName);
    EXPECT_EQ(file.shortName, p.shortName);
    EXPECT_EQ(file.extension, p.extension);
    EXPECT_EQ(ATTACH_BY_VALUE, p.method);
    EXPECT_EQ(file.bytes, p.data);
  }
  const auto onDisk = MessageFiles(L"Inbox#Reports");
  ASSERT_EQ(4u, onDisk.size());
  for (const File& file : files) {
    ASSERT_EQ(1u, onDisk.count(file.name));
    EXPECT_EQ(file.messageClass, onDisk.at(file.name).messageClass);
    EXPECT_EQ(file.bytes, onDisk.at(file.name).data);
  }
}

TEST_F(ExportThroughProviderTest, PersonalReportsGoToCommonViewsAndAnEmptyComponentEndsThePath) {
  const std::wstring path = MakeFile(L"a.pdf", Pattern(100, 5));
  ASSERT_EQ(0, Export({L"Work", L"secret", PersonalReport, nullptr}, {path}).code);
  const std::vector<Posted> views = Read({});
  ASSERT_EQ(1u, views.size());
  EXPECT_EQ(L"a.pdf", views[0].subject);

  DeleteFileW(tracePath_.c_str());
  ASSERT_EQ(0, Export({L"Work", L"secret", FolderReport, L"Mailbox#Inbox#"}, {path}).code);
  EXPECT_EQ(1u, Read({L"Inbox"}).size());
  EXPECT_EQ(0u, Read({L"Inbox", L"Reports"}).size());
  EXPECT_TRUE(TraceLines("IMsgStore::OpenEntry flags=0x00000001").empty()) << "Inbox is not the last component";
}

TEST_F(ExportThroughProviderTest, BadInputTellsTheHostWhatFailed) {
  const std::wstring a = MakeFile(L"a.pdf", Pattern(300, 6));
  const std::wstring b = MakeFile(L"b.txt", Pattern(20, 7));
  const std::wstring missing = folder_ + L"\\missing.pdf";
  const std::wstring gone = folder_ + L"\\gone.txt";
  const kvtest::OptionsText nowhere = {L"Work", L"secret", FolderReport, L"Mailbox#Inbox#Nowhere"};
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
      {"a missing file", reports_, {a, missing, b}, -1, 0x0409, -1,
       L"The file \"missing.pdf\" was not posted: MAPI_E_CALL_FAILED", {L"a.pdf", L"b.txt"}},
      {"two missing files", reports_, {missing, a, gone}, -1, 0x0409, -1,
       L"2 of 3 files were not posted. The first, \"missing.pdf\": MAPI_E_CALL_FAILED", {L"a.pdf"}},
      {"a missing file, German", reports_, {missing, b}, -1, 0x0407, -1,
       L"Die Datei \u201Emissing.pdf\u201C wurde nicht bereitgestellt: MAPI_E_CALL_FAILED", {L"b.txt"}},
      {"a missing folder", nowhere, {a}, -1, 0x0409, -1, L"MAPI object not found.", {}},
      {"a missing folder, German", nowhere, {a}, -1, 0x0407, -1, L"MAPI-Objekt nicht gefunden.", {}},
      {"a read-only folder", team, {a}, -1, 0x0409, -1, L"No access right to post file to Exchange Folders.", {}},
      {"more paths than files", reports_, {a, b}, 3, 0x0409, 5, L"", {}},
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
    std::vector<std::wstring> landed;
    for (const Posted& p : Read({L"Inbox", L"Reports"})) landed.push_back(p.subject);
    EXPECT_EQ(c.landed, landed);
    EXPECT_EQ(0, liveObjects_());
    EXPECT_EQ(0, outstandingBuffers_());
  }
}

}  // namespace
