// The admin library behind kvmapi-admin: what it refuses before writing
// anything, how it replaces a profile, and what its listing shows.
#include "provider_fixture.h"

#include "files.h"
#include "folder_index.h"
#include "message_files.h"
#include "posting_client.h"
#include "store_layout.h"

namespace provider_test {

// Postings made as the module makes them.
using namespace posting_client;
namespace {

class AdminTest : public ProviderTest {
 protected:
  provider::admin::ProfileRequest Request(const std::wstring& name) {
    provider::admin::ProfileRequest request;
    request.profile.name = name;
    provider::StoreConfig store;
    store.name = L"Mailbox";
    store.directory = L"mailbox";  // relative to the profiles file
    request.profile.stores.push_back(store);
    return request;
  }
};

TEST_F(AdminTest, RefusesBadRequestsBeforeWritingAnything) {
  struct Case {
    const char* what;
    std::function<void(provider::admin::ProfileRequest&)> spoil;
  } cases[] = {
      {"no profile name", [](provider::admin::ProfileRequest& r) { r.profile.name.clear(); }},
      {"folder in an unknown store", [](provider::admin::ProfileRequest& r) { r.folders.push_back(L"Other#Inbox"); }},
      {"read-only mark without a folder", [](provider::admin::ProfileRequest& r) { r.readOnlyFolders.push_back(L"Mailbox"); }},
      {"default store that is not one", [](provider::admin::ProfileRequest& r) { r.profile.defaultStore = L"Other"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    provider::admin::ProfileRequest request = Request(L"Work");
    c.spoil(request);
    std::wstring error;
    EXPECT_FALSE(provider::admin::CreateProfile(profilesPath_, request, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(provider::FileExists(profilesPath_)) << "a refused request must not write the profiles file";
  }
  EXPECT_FALSE(provider::DirectoryExists(directory_ + L"\\mailbox")) << "nor create a store for an invalid folder list";
}

TEST_F(AdminTest, CreatingAgainReplacesTheProfileAndKeepsTheStore) {
  std::wstring error;
  provider::admin::ProfileRequest first = Request(L"Work");
  first.folders = {L"Mailbox#Inbox"};
  ASSERT_TRUE(provider::admin::CreateProfile(profilesPath_, first, error)) << provider::ToUtf8(error);
  provider::admin::ProfileRequest second = Request(L"WORK");
  second.profile.password = L"new";
  second.folders = {L"Mailbox#Sent"};
  second.makeDefault = true;
  ASSERT_TRUE(provider::admin::CreateProfile(profilesPath_, second, error)) << provider::ToUtf8(error);
  provider::ProfilesFile file;
  ASSERT_EQ(provider::ProfilesStatus::Ok, provider::LoadProfiles(profilesPath_, file, nullptr));
  ASSERT_EQ(1u, file.profiles.size());
  EXPECT_EQ(L"WORK", file.profiles[0].name);
  EXPECT_EQ(L"new", file.profiles[0].password);
  EXPECT_EQ(L"WORK", file.defaultProfile);
  Session session;
  ASSERT_EQ(S_OK, Logon(nullptr, L"new", 0, session));
  Store store = OpenStore(session.get(), L"Mailbox");
  EXPECT_TRUE(OpenPath(store.get(), {L"Inbox"})) << "the first run's folder is still there";
  EXPECT_TRUE(OpenPath(store.get(), {L"Sent"}));
}

TEST_F(AdminTest, ListingShowsStoresFoldersAndIndexedMessages) {
  std::wstring error;
  provider::admin::ProfileRequest request = Request(L"Work");
  request.profile.defaultStore = L"Mailbox";
  provider::StoreConfig archive;
  archive.name = L"Archive";
  archive.directory = L"archive";
  archive.readOnly = true;
  request.profile.stores.push_back(archive);
  request.folders = {L"Mailbox#Inbox#Reports"};
  request.makeDefault = true;
  ASSERT_TRUE(provider::admin::CreateProfile(profilesPath_, request, error)) << provider::ToUtf8(error);
  provider::FolderRecord inbox;
  ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"Inbox", inbox));
  provider::IndexEntry entry;
  entry.properties.push_back(provider::Value::Text(PR_SUBJECT_W, L"Quarterly"));
  ASSERT_EQ(provider::StoreResult::Ok, AddIndexEntries(inbox.directory, {entry}));
  std::wstring listing;
  ASSERT_TRUE(provider::admin::ListProfiles(profilesPath_, L"work", listing, error)) << provider::ToUtf8(error);
  std::wstring expected = L"Profile Work (default), user Work\n"
                          L"  Store Mailbox (default) in " + directory_ + L"\\mailbox\n"
                          L"    Inbox  [1 messages, 0 associated]\n"
                          L"      - Quarterly\n"
                          L"      Reports  [0 messages, 0 associated]\n"
                          L"  Store Archive (read-only) in " + directory_ + L"\\archive\n";
  EXPECT_EQ(provider::ToUtf8(expected), provider::ToUtf8(listing));
  EXPECT_FALSE(provider::admin::ListProfiles(profilesPath_, L"Nobody", listing, error));
}

TEST_F(AdminTest, MessagesAreListedAndAttachmentsExtracted) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}}, {L"Mailbox#Reports"}, true);
  Posting document;
  document.postedName = L"Sales \u00dcbersicht.pdf";
  document.bytes.resize(10000);
  for (size_t i = 0; i < document.bytes.size(); ++i) document.bytes[i] = static_cast<uint8_t>(i * 7);
  Posting report;
  report.postedName = L"Monthly.rpt";
  report.associated = true;
  report.messageClass = L"IPM.ZORLAN.REPORT.TEMPLATE";
  report.displayName = L"Monthly Sales";
  std::vector<uint8_t> documentId;
  {
    Session session = LogonOrFail(L"Work");
    Store store = OpenStore(session.get(), L"Mailbox");
    Folder reports = OpenPath(store.get(), {L"Reports"}, MAPI_MODIFY);
    ASSERT_TRUE(reports);
    ASSERT_EQ(S_OK, PostThroughMapi(reports.get(), document, &documentId));
    ASSERT_EQ(S_OK, PostThroughMapi(reports.get(), report));
    // Enough more that two ids share a first digit.
    for (int i = 0; i < 16; ++i) {
      Posting small;
      small.postedName = SeriesName(L"small", i);
      ASSERT_EQ(S_OK, PostThroughMapi(reports.get(), small));
    }
  }
  std::wstring error;
  std::vector<provider::admin::MessageSummary> messages;
  ASSERT_TRUE(provider::admin::ListMessages(profilesPath_, L"", L"Mailbox#Reports", messages, error))
      << provider::ToUtf8(error);
  ASSERT_EQ(18u, messages.size());
  const std::wstring documentHex = Wide(provider::ToHex(documentId.data() + 56, 16));
  std::wstring listing = provider::admin::FormatMessages(L"Mailbox#Reports", messages);
  std::wstring expectedStart = L"Folder Mailbox#Reports: 17 messages, 1 associated\n"
                               L"  " + documentHex + L"  IPM.DOCUMENT.PDF  \"Sales \u00dcbersicht.pdf\"\n"
                               L"      attachment 1: Sales \u00dcbersicht.pdf (10000 bytes)\n"
                               L"  " + messages[1].id + L"  (associated) IPM.ZORLAN.REPORT.TEMPLATE  \"Monthly.rpt\"  "
                               L"display name \"Monthly Sales\"\n"
                               L"      attachment 1: Monthly.rpt (0 bytes)\n";
  EXPECT_EQ(provider::ToUtf8(expectedStart), provider::ToUtf8(listing.substr(0, expectedStart.size())));

  const std::wstring output = directory_ + L"\\extracted.pdf";
  uint64_t written = 0;
  ASSERT_TRUE(provider::admin::ExtractAttachment(profilesPath_, L"Work", L"Mailbox#Reports", documentHex.substr(0, 12), 1,
                                                 output, written, error))
      << provider::ToUtf8(error);
  EXPECT_EQ(10000u, written);
  std::string bytes;
  ASSERT_EQ(provider::FileRead::Ok, provider::ReadWholeFile(output, bytes));
  EXPECT_TRUE(std::vector<uint8_t>(bytes.begin(), bytes.end()) == document.bytes);

  std::wstring shared;
  for (const auto& a : messages)
    for (const auto& b : messages)
      if (&a != &b && a.id[0] == b.id[0]) shared = a.id.substr(0, 1);
  ASSERT_FALSE(shared.empty());
  struct Refusal {
    const char* what;
    std::wstring folder;
    std::wstring message;
    unsigned attachment;
  } refusals[] = {
      {"unknown message", L"Mailbox#Reports", L"zz", 1},
      {"prefix naming several", L"Mailbox#Reports", shared, 1},
      {"attachment 0", L"Mailbox#Reports", documentHex, 0},
      {"attachment beyond the last", L"Mailbox#Reports", documentHex, 2},
      {"unknown folder", L"Mailbox#Nowhere", documentHex, 1},
      {"unknown store", L"Other#Reports", documentHex, 1},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    DeleteFileW(output.c_str());
    error.clear();
    EXPECT_FALSE(provider::admin::ExtractAttachment(profilesPath_, L"Work", r.folder, r.message, r.attachment, output,
                                                    written, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(provider::FileExists(output)) << "a refused extraction writes nothing";
  }
}

// An index line names a message's file, but the tool opens the file the id
// names: a changed index reaches nothing outside the store.
TEST_F(AdminTest, MessageFilesAreNamedByTheirIdsNotByTheIndex) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}}, {L"Mailbox#Reports"}, true);
  provider::FolderRecord reports;
  ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"Reports", reports));
  Posting document;
  document.postedName = L"inside.pdf";
  document.bytes.assign(100, 0x41);
  std::vector<uint8_t> entryId;
  {
    Session session = LogonOrFail(L"Work");
    Store store = OpenStore(session.get(), L"Mailbox");
    Folder folder = OpenPath(store.get(), {L"Reports"}, MAPI_MODIFY);
    ASSERT_TRUE(folder);
    ASSERT_EQ(S_OK, PostThroughMapi(folder.get(), document, &entryId));
  }
  const std::string hex = provider::ToHex(entryId.data() + 56, 16);
  std::string bytes;
  ASSERT_EQ(provider::FileRead::Ok, provider::ReadWholeFile(provider::IndexPath(reports.directory), bytes));
  const size_t name = bytes.find("\t" + hex + ".msg\t");
  ASSERT_NE(std::string::npos, name) << bytes;
  std::string outside;
  for (int i = 0; i < 8; ++i) outside += "..\\";
  outside += "xoutside.msg";  // as long as the real name: the header's byte count stays right
  ASSERT_EQ(hex.size() + 4, outside.size());
  bytes.replace(name + 1, outside.size(), outside);
  ASSERT_TRUE(provider::WriteFileAtomically(provider::IndexPath(reports.directory), bytes));

  std::wstring error;
  std::vector<provider::admin::MessageSummary> messages;
  ASSERT_TRUE(provider::admin::ListMessages(profilesPath_, L"", L"Mailbox#Reports", messages, error))
      << provider::ToUtf8(error);
  const std::string listing = provider::ToUtf8(provider::admin::FormatMessages(L"Mailbox#Reports", messages));
  EXPECT_NE(std::string::npos, listing.find("attachment 1: inside.pdf (100 bytes)")) << listing;
  const std::wstring output = directory_ + L"\\extracted.pdf";
  uint64_t written = 0;
  EXPECT_TRUE(provider::admin::ExtractAttachment(profilesPath_, L"Work", L"Mailbox#Reports", Wide(hex), 1, output,
                                                 written, error))
      << provider::ToUtf8(error);
  EXPECT_EQ(100u, written);
}

// kvmapi-admin repair: every folder of a store checked, what was wrong put
// right and said; a second run finds everything sound.
TEST_F(AdminTest, RepairPutsFoldersRightAndSaysWhatItDid) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}}, {L"Mailbox#Reports"}, true);
  provider::FolderRecord reports;
  ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"Reports", reports));
  {
    Session session = LogonOrFail(L"Work");
    Store store = OpenStore(session.get(), L"Mailbox");
    Folder folder = OpenPath(store.get(), {L"Reports"}, MAPI_MODIFY);
    ASSERT_TRUE(folder);
    for (const wchar_t* name : {L"one", L"two"}) {
      Posting posting;
      posting.postedName = name;
      ASSERT_EQ(S_OK, PostThroughMapi(folder.get(), posting));
    }
  }
  std::string bytes;
  ASSERT_EQ(provider::FileRead::Ok, provider::ReadWholeFile(provider::IndexPath(reports.directory), bytes));
  bytes[bytes.find('\n', provider::kIndexHeaderBytes) + 3] = '#';  // the second line's id
  ASSERT_TRUE(provider::WriteFileAtomically(provider::IndexPath(reports.directory), bytes));
  const provider::ObjectId staleId = provider::NewObjectId();
  const std::wstring stale = provider::ComposingPath(reports.directory, staleId);
  ASSERT_TRUE(provider::CreateDirectoryTree(provider::ComposingDirectory(reports.directory)));
  ASSERT_TRUE(provider::WriteFileAtomically(stale, "left by a crash"));

  std::vector<provider::admin::FolderRepair> repairs;
  std::wstring error;
  ASSERT_TRUE(provider::admin::RepairFolders(profilesPath_, L"", L"Mailbox", true, repairs, error)) << provider::ToUtf8(error);
  EXPECT_EQ("Mailbox (root): sound (0 messages)\n"
            "Mailbox (Common Views): sound (0 messages)\n"
            "Mailbox: sound (0 messages)\n"
            "Mailbox#Reports: index rebuilt from the message files: 1 line kept, 1 damaged line dropped, "
            "1 message file added; 1 left-over .tmp file deleted\n",
            provider::ToUtf8(provider::admin::FormatRepairs(repairs)));
  ASSERT_TRUE(provider::admin::RepairFolders(profilesPath_, L"", L"Mailbox#Reports", false, repairs, error));
  EXPECT_EQ("Mailbox#Reports: sound (2 messages)\n", provider::ToUtf8(provider::admin::FormatRepairs(repairs)));
  EXPECT_FALSE(provider::admin::RepairFolders(profilesPath_, L"", L"Mailbox#Nowhere", false, repairs, error));
  EXPECT_EQ("folder Mailbox#Nowhere does not exist", provider::ToUtf8(error));
}

TEST_F(AdminTest, MessageFilesFillBucketsInTurnAndStoresOfEarlierLayoutsAreReadAndUpgraded) {
  MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}}, {L"Mailbox#Reports"}, true);
  provider::FolderRecord reports;
  ASSERT_NO_FATAL_FAILURE(FindFolderRecord(L"Reports", reports));
  Posting document;
  document.postedName = L"Sales.pdf";
  document.bytes.assign(5000, 0x5A);
  std::vector<uint8_t> documentId;
  {
    Session session = LogonOrFail(L"Work");
    Store store = OpenStore(session.get(), L"Mailbox");
    Folder folder = OpenPath(store.get(), {L"Reports"}, MAPI_MODIFY);
    ASSERT_TRUE(folder);
    ASSERT_EQ(S_OK, PostThroughMapi(folder.get(), document, &documentId));
    for (const wchar_t* name : {L"two", L"three"}) {
      Posting posting;
      posting.postedName = name;
      ASSERT_EQ(S_OK, PostThroughMapi(folder.get(), posting));
    }
  }
  provider::MessageFileListing listing;
  ASSERT_EQ(provider::StoreResult::Ok, provider::ListMessageFiles(reports.directory, listing));
  ASSERT_EQ(3u, listing.saved.size());
  for (const auto& saved : listing.saved) {
    EXPECT_FALSE(saved.unbucketed || saved.twoDigitBucket);
    EXPECT_TRUE(provider::FileExists(provider::MessagePath(reports.directory, saved.id)))
        << "each file in the bucket named by its id's first digits";
    EXPECT_EQ(L"000", provider::MessageBucketName(saved.id)) << "a folder's first postings share its first bucket";
  }
  // The 129th posting of a folder opens its second bucket.
  ASSERT_EQ(L"001", provider::MessageBucketName(provider::NewMessageId(provider::kMessagesPerBucket)));

  // The layouts before: two-digit buckets, then every file in messages\ itself.
  auto moveAll = [&](std::wstring (*to)(const std::wstring&, const provider::ObjectId&)) {
    for (const auto& saved : listing.saved) {
      const std::wstring target = to(reports.directory, saved.id);
      ASSERT_TRUE(provider::CreateDirectoryTree(target.substr(0, target.find_last_of(L'\\'))));
      ASSERT_TRUE(MoveFileW(provider::ExistingMessagePath(reports.directory, saved.id).c_str(), target.c_str()));
    }
  };
  std::vector<provider::admin::FolderRepair> repairs;
  std::wstring error;
  for (auto layout : {provider::TwoDigitBucketMessagePath, provider::UnbucketedMessagePath}) {
    ASSERT_NO_FATAL_FAILURE(moveAll(layout));
    std::vector<provider::admin::MessageSummary> messages;
    provider::IndexDamage damage;
    ASSERT_TRUE(provider::admin::ListMessages(profilesPath_, L"", L"Mailbox#Reports", messages, error, &damage));
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(1u, messages[0].attachments.size()) << "attachments read from where the file is";
    Session session = LogonOrFail(L"Work");
    Store store = OpenStore(session.get(), L"Mailbox");
    UniqueInterface<IMessage> message;
    ULONG type = 0;
    ASSERT_EQ(S_OK, store->OpenEntry(static_cast<ULONG>(documentId.size()), reinterpret_cast<LPENTRYID>(documentId.data()),
                                     nullptr, MAPI_BEST_ACCESS, &type, message.putUnknown()));
    UniqueInterface<IAttach> attachment;
    ASSERT_EQ(S_OK, message->OpenAttach(0, nullptr, MAPI_BEST_ACCESS, attachment.put()));
    UniqueInterface<IStream> data;
    ASSERT_EQ(S_OK, attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, data.putUnknown()));
    std::vector<uint8_t> read(6000);
    ULONG count = 0;
    ASSERT_EQ(S_OK, data->Read(read.data(), static_cast<ULONG>(read.size()), &count));
    read.resize(count);
    EXPECT_EQ(document.bytes, read) << "a message opened from its old place";
    if (layout == provider::TwoDigitBucketMessagePath) {
      ASSERT_TRUE(provider::admin::RepairFolders(profilesPath_, L"", L"Mailbox#Reports", false, repairs, error));
      EXPECT_EQ("Mailbox#Reports: sound (3 messages)\n", provider::ToUtf8(provider::admin::FormatRepairs(repairs)))
          << "two-digit buckets are read where they are";
    }
  }

  ASSERT_TRUE(provider::admin::RepairFolders(profilesPath_, L"", L"Mailbox#Reports", false, repairs, error));
  EXPECT_EQ("Mailbox#Reports: 3 message files moved into the bucket directories\n",
            provider::ToUtf8(provider::admin::FormatRepairs(repairs)));
  ASSERT_EQ(provider::StoreResult::Ok, provider::ListMessageFiles(reports.directory, listing));
  ASSERT_EQ(3u, listing.saved.size());
  for (const auto& saved : listing.saved) EXPECT_FALSE(saved.unbucketed || saved.twoDigitBucket);
  ASSERT_TRUE(provider::admin::RepairFolders(profilesPath_, L"", L"Mailbox#Reports", false, repairs, error));
  EXPECT_EQ("Mailbox#Reports: sound (3 messages)\n", provider::ToUtf8(provider::admin::FormatRepairs(repairs)));
}

}  // namespace
}  // namespace provider_test
