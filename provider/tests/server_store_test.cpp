// Stores on an IMAP server through our MAPI32.DLL, against the Dovecot (and
// the scripted fake) that the CTest fixture imap_servers starts: folders and
// counts from the server, a message another client posted, postings and
// report templates, and what each way of failing answers. Each case ends
// with the provider holding no object and no buffer (ProviderTest).
#include <mapitags.h>

#include <thread>

#include <kvimap/imap_client.h>
#include <kvimap/mailbox_name.h>

#include "imap_test_support.h"
#include "posting_client.h"
#include "provider_fixture.h"

namespace provider_test {
namespace {

using kvimap_test::Setting;
using kvimap_test::Wide;

std::wstring Unique(const wchar_t* name) { return name + std::to_wstring(GetTickCount()); }

class ServerStoreTest : public ProviderTest {
 protected:
  void SetUp() override {
    ProviderTest::SetUp();
    if (kvimap_test::Servers().empty()) GTEST_SKIP() << "no servers (KV_IMAP_ENV): run through ctest";
  }

  // A profile whose one store "Team" shows the server's Team/ namespace.
  void MakeServerProfile(const std::wstring& profile, const std::string& user, const std::wstring& host,
                         const char* portKey, const std::vector<std::wstring>& folders = {},
                         provider::ServerSecurity security = provider::ServerSecurity::Tls,
                         const std::wstring& root = L"Team/", const char* pinKey = "IMAP_PIN",
                         bool rememberPassword = false) {
    provider::admin::ProfileRequest request;
    request.profile.name = profile;
    request.profile.userName = L"Erika Mustermann";
    request.profile.userAddress = L"erika@example.org";
    provider::StoreConfig store;
    store.name = L"Team";
    store.onServer = true;
    store.server.host = host;
    store.server.port = kvimap_test::Port(portKey);
    store.server.security = security;
    store.server.user = Wide(user);
    store.server.root = root;
    store.server.pin = pinKey ? Setting(pinKey) : std::string();
    request.profile.stores.push_back(store);
    request.folders = folders;
    request.serverPassword = Wide(Setting(user == "bob" ? "IMAP_READER_PASSWORD" : user == "carol" ? "IMAP_THIRD_PASSWORD"
                                                                                                 : "IMAP_PASSWORD"));
    request.rememberServerPassword = rememberPassword;
    std::wstring error;
    ASSERT_TRUE(provider::admin::CreateProfile(profilesPath_, request, error)) << provider::ToUtf8(error);
  }

  // Another client of the server: our IMAP library, as bob.
  void OtherClient(const std::function<void(kvimap::ImapClient&)>& body) {
    kvimap::ImapClient client;
    kvimap::ConnectOptions options;
    options.host = L"127.0.0.1";
    options.port = kvimap_test::Port("IMAP_PLAIN_PORT");
    options.security = kvimap::Security::None;
    ASSERT_TRUE(client.Connect(options).ok());
    ASSERT_TRUE(client.Login(L"bob", Wide(Setting("IMAP_READER_PASSWORD"))).ok());
    body(client);
    EXPECT_TRUE(client.Logout().ok());
  }

  uint32_t ServerCount(const std::wstring& mailbox) {
    uint32_t count = 0;
    OtherClient([&](kvimap::ImapClient& client) {
      kvimap::SelectedMailbox selected;
      EXPECT_TRUE(client.Select(mailbox, true, &selected).ok());
      count = selected.exists;
    });
    return count;
  }

  // A file of zeros that takes no room on the disk.
  std::wstring LargeFile(int64_t size) {
    const std::wstring path = directory_ + L"\\large.bin";
    kvcommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(file && SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.get()));
    return path;
  }

  // Ends the user's server process (doveadm kick) once the server has begun
  // to write a message into the folder, as a server that dies mid-APPEND.
  void KillWhenArriving(const std::wstring& folder, const std::string& user) {
    const std::string conf = Setting("IMAP_CONF");
    const std::wstring incoming = kvimap_test::WindowsPath(conf.substr(0, conf.rfind('/')) + "/public/") + folder +
                                  L"\\tmp\\*";
    for (int wait = 0; wait < 3000; ++wait) {
      WIN32_FIND_DATAW data;
      HANDLE find = FindFirstFileW(incoming.c_str(), &data);
      bool arriving = false;
      if (find != INVALID_HANDLE_VALUE) {
        do arriving = arriving || (data.nFileSizeLow > (1u << 20) || data.nFileSizeHigh > 0);
        while (FindNextFileW(find, &data));
        FindClose(find);
      }
      if (arriving) break;
      Sleep(10);
    }
    std::wstring command = L"cmd /c start /wait /unix /bin/sh -c \"doveadm -c " + Wide(conf) + L" kick " + Wide(user) +
                           L" >/dev/null\"";
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }

  std::vector<std::vector<std::string>> Hierarchy(IMAPIFolder* folder) {
    Table table;
    EXPECT_EQ(S_OK, folder->GetHierarchyTable(0, table.put()));
    return table ? ReadAll(table.get(), {PR_DISPLAY_NAME_A, PR_SUBFOLDERS, PR_CONTENT_COUNT, PR_ASSOC_CONTENT_COUNT})
                 : std::vector<std::vector<std::string>>();
  }

  std::vector<std::vector<std::string>> Contents(IMAPIFolder* folder, ULONG flags = 0) {
    Table table;
    EXPECT_EQ(S_OK, folder->GetContentsTable(flags, table.put()));
    return table ? ReadAll(table.get(), {PR_SUBJECT_W, PR_MESSAGE_CLASS_W, PR_SENDER_NAME_W, PR_DISPLAY_NAME_W})
                 : std::vector<std::vector<std::string>>();
  }
};

using Rows = std::vector<std::vector<std::string>>;

TEST_F(ServerStoreTest, FoldersCountsAndAnotherClientsMessageComeFromTheServer) {
  const std::wstring name = Unique(L"Tables ");
  ASSERT_NO_FATAL_FAILURE(MakeServerProfile(L"Team", Setting("IMAP_USER"), L"127.0.0.1", "IMAP_TLS_PORT",
                                            {L"Team#" + name + L"#Below"}, provider::ServerSecurity::Tls, L"Team/",
                                            "IMAP_PIN", true));
  std::string profiles;
  ASSERT_EQ(provider::FileRead::Ok, provider::ReadWholeFile(profilesPath_, profiles));
  EXPECT_EQ(std::string::npos, profiles.find(Setting("IMAP_PASSWORD"))) << "the password is kept protected";
  // The password the profile keeps logs on when the logon gives none (as the dialogs' logon does).
  Session session = LogonOrFail(L"Team", L"");
  Store store = OpenStore(session.get(), L"Team");
  ASSERT_TRUE(store);
  Folder top = OpenTop(store.get());
  const std::string folder = provider::ToUtf8(name);
  Rows rows = Hierarchy(top.get());
  EXPECT_NE(rows.end(), std::find(rows.begin(), rows.end(), std::vector<std::string>{folder, "true", "0", "0"}));
  EXPECT_NE(rows.end(), std::find(rows.begin(), rows.end(), std::vector<std::string>{"ReadOnly", "false", "0", "0"}));

  // Another client posts a message without any of our headers.
  OtherClient([&](kvimap::ImapClient& client) {
    const std::string message =
        "From: \"Bob Baumann\" <bob@example.org>\r\nSubject: =?utf-8?Q?Gr=C3=BC=C3=9Fe?=\r\n"
        "Message-ID: <other@example.org>\r\nContent-Type: text/plain\r\n\r\nHallo\r\n";
    kvimap::MemorySource source(message.data(), message.size());
    kvimap::AppendResult appended;
    EXPECT_TRUE(client.Append(L"Team/" + name, &source, false, "", &appended).ok());
  });
  rows = Hierarchy(top.get());
  EXPECT_NE(rows.end(), std::find(rows.begin(), rows.end(), std::vector<std::string>{folder, "true", "1", "0"}));
  Folder tables = OpenPath(store.get(), {name});
  EXPECT_EQ((Rows{{"Gr\xc3\xbc\xc3\x9f" "e", "IPM.Note", "Bob Baumann", "error 0x8004010F"}}), Contents(tables.get()));
}

TEST_F(ServerStoreTest, PostingsAndReportTemplatesAreOneMessageEach) {
  const std::wstring name = Unique(L"Postings ");
  ASSERT_NO_FATAL_FAILURE(MakeServerProfile(L"Team", Setting("IMAP_USER"), L"127.0.0.1", "IMAP_TLS_PORT",
                                            {L"Team#" + name}));
  Session session = LogonOrFail(L"Team", Wide(Setting("IMAP_PASSWORD")).c_str());
  Store store = OpenStore(session.get(), L"Team");
  Folder folder = OpenPath(store.get(), {name}, MAPI_MODIFY);
  ASSERT_TRUE(folder);
  posting_client::Posting document;
  document.postedName = L"Bericht \x00dc" L"bersicht.pdf";
  document.bytes.assign(100000, 0x5a);
  std::vector<uint8_t> entryId;
  ASSERT_EQ(S_OK, posting_client::PostThroughMapi(folder.get(), document, &entryId));
  EXPECT_EQ(72u, entryId.size()) << "APPENDUID names the message";
  posting_client::Posting report;
  report.postedName = L"q3.rpt";
  report.associated = true;
  report.messageClass = L"IPM.ZORLAN.REPORT.TEMPLATE";
  report.displayName = L"Quartal 3";
  report.bytes.assign(5000, 0x11);
  ASSERT_EQ(S_OK, posting_client::PostThroughMapi(folder.get(), report));

  EXPECT_EQ((Rows{{"Bericht \xc3\x9c" "bersicht.pdf", "IPM.DOCUMENT.PDF", "Erika Mustermann", "error 0x8004010F"}}),
            Contents(folder.get()));
  // The report name checks for taken names read the associated table.
  EXPECT_EQ((Rows{{"q3.rpt", "IPM.ZORLAN.REPORT.TEMPLATE", "Erika Mustermann", "Quartal 3"}}),
            Contents(folder.get(), MAPI_ASSOCIATED));
  EXPECT_EQ(1u, ServerCount(L"Team/" + name));
  Folder top = OpenTop(store.get());
  Rows rows = Hierarchy(top.get());
  const std::string folderName = provider::ToUtf8(name);
  EXPECT_NE(rows.end(), std::find(rows.begin(), rows.end(), std::vector<std::string>{folderName, "false", "1", "1"}))
      << "the templates' hidden folder is no subfolder";
  // Folder names: the server's separator refused, the rest in modified UTF-7 on the wire.
  Folder made;
  EXPECT_EQ(MAPI_E_INVALID_PARAMETER, folder->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(
                                                               L"Q1/Q2")), nullptr, nullptr, MAPI_UNICODE, made.put()));
  EXPECT_EQ(S_OK, folder->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"Q1 \x00dc")),
                                       nullptr, nullptr, MAPI_UNICODE, made.put()));
  OtherClient([&](kvimap::ImapClient& client) {
    std::vector<kvimap::MailboxInfo> listed;
    EXPECT_TRUE(client.List(L"", L"Team/" + name + L"/%", &listed).ok());
    std::vector<std::string> wire;
    for (const kvimap::MailboxInfo& box : listed) wire.push_back(box.wireName);
    std::sort(wire.begin(), wire.end());
    const std::string parent = provider::ToUtf8(L"Team/" + name + L"/");
    EXPECT_EQ((std::vector<std::string>{parent + "KV2FOLD Associated", parent + "Q1 &ANw-"}), wire);
  });
  // A server's messages are listed, not opened again.
  ULONG type = 0;
  UniqueInterface<IUnknown> opened;
  EXPECT_EQ(MAPI_E_NO_SUPPORT, store->OpenEntry(static_cast<ULONG>(entryId.size()),
                                                reinterpret_cast<LPENTRYID>(entryId.data()), nullptr, 0, &type,
                                                opened.put()));
}

// Each way a posting can fail, with the code the module turns into its text.
TEST_F(ServerStoreTest, FailuresAnswerTheModulesCodes) {
  const std::wstring gone = Unique(L"Gone ");
  const std::wstring kept = Unique(L"Kept ");
  const std::wstring killed = Unique(L"Killed ");
  struct Case {
    const char* what;
    std::function<void()> profile;
    const char* password;
    HRESULT logon, open, post;  // MAPILogonEx, OpenMsgStore, the posting
    std::vector<std::wstring> folder;
    bool large = false;    // 256 MiB, while the server is killed on its way in
    std::wstring counted;  // a server folder whose count must not change
  };
  auto team = [this](const std::string& user, const std::wstring& host, const char* port, const char* pin,
                     std::vector<std::wstring> folders = {}) {
    return [=] { MakeServerProfile(L"Case", user, host, port, folders, provider::ServerSecurity::Tls, L"Team/", pin); };
  };
  auto fake = [this](const char* user) {
    return [=] {
      MakeServerProfile(L"Case", user, L"127.0.0.1", "IMAP_FAKE_PORT", {}, provider::ServerSecurity::None, L"INBOX",
                        nullptr);
    };
  };
  const char* alice = "IMAP_PASSWORD";
  const Case cases[] = {
      {"read-only folder", team("bob", L"127.0.0.1", "IMAP_TLS_PORT", "IMAP_PIN"), "IMAP_READER_PASSWORD", S_OK, S_OK,
       MAPI_E_NO_ACCESS, {L"ReadOnly"}, false, L"Team/ReadOnly"},
      {"a container that holds no messages", team("alice", L"127.0.0.1", "IMAP_TLS_PORT", "IMAP_PIN"), alice, S_OK,
       S_OK, MAPI_E_NOT_FOUND, {L"Archive"}},
      {"wrong pin", team("alice", L"127.0.0.1", "IMAP_TLS_PORT", "IMAP_EXPIRED_PIN"), alice, MAPI_E_LOGON_FAILED, 0, 0,
       {}},
      {"wrong host name", team("alice", L"127.0.0.3", "IMAP_OTHER_NAME_PORT", "IMAP_PIN"), alice, MAPI_E_LOGON_FAILED,
       0, 0, {}},
      {"expired certificate", team("alice", L"127.0.0.2", "IMAP_EXPIRED_PORT", "IMAP_EXPIRED_PIN"), alice,
       MAPI_E_LOGON_FAILED, 0, 0, {}},
      {"wrong password", team("bob", L"127.0.0.1", "IMAP_TLS_PORT", "IMAP_PIN"), alice, MAPI_E_LOGON_FAILED, 0, 0, {}},
      {"nothing listens", team("alice", L"127.0.0.1", "IMAP_UNUSED_PORT", "IMAP_PIN"), alice, S_OK,
       MAPI_E_NETWORK_ERROR, 0, {}},
      {"over quota", fake("full"), alice, S_OK, S_OK, MAPI_E_NOT_ENOUGH_DISK, {L"Reports"}},
      {"too big for the server", fake("huge"), alice, S_OK, S_OK, MAPI_E_TOO_BIG, {L"Reports"}},
      {"gone in the middle of the message", fake("bye"), alice, S_OK, S_OK, MAPI_E_NETWORK_ERROR, {L"Reports"}},
      {"server killed in the middle of the message",
       team("carol", L"127.0.0.1", "IMAP_TLS_PORT", "IMAP_PIN", {L"Team#" + killed}), "IMAP_THIRD_PASSWORD", S_OK,
       S_OK, MAPI_E_NETWORK_ERROR, {killed}, true, L"Team/" + killed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(c.profile());
    Session session;
    ASSERT_EQ(c.logon, Logon(L"Case", Wide(Setting(c.password)).c_str(), 0, session));
    if (FAILED(c.logon)) continue;
    Store store = OpenStore(session.get(), L"Team", MDB_WRITE, c.open);
    if (FAILED(c.open)) continue;
    Folder folder = OpenPath(store.get(), c.folder, MAPI_BEST_ACCESS);
    ASSERT_TRUE(folder);
    const uint32_t before = c.counted.empty() ? 0 : ServerCount(c.counted);
    posting_client::Posting posting;
    posting.bytes.assign(300000, 0x42);
    std::thread killer;
    if (c.large) {
      posting.bytes.clear();
      posting.sourcePath = LargeFile(256 << 20);
      killer = std::thread([&] { KillWhenArriving(c.folder[0], "carol"); });
    }
    EXPECT_EQ(c.post, posting_client::PostThroughMapi(folder.get(), posting));
    if (killer.joinable()) killer.join();
    if (!c.counted.empty()) {
      EXPECT_EQ(before, ServerCount(c.counted)) << "nothing half-posted";
    }
    if (c.large) {  // opening the store again connects again
      folder.reset();
      store = OpenStore(session.get(), L"Team", MDB_WRITE);
      folder = OpenPath(store.get(), c.folder, MAPI_MODIFY);
      posting.sourcePath.clear();
      posting.bytes.assign(1000, 0x42);
      EXPECT_EQ(S_OK, posting_client::PostThroughMapi(folder.get(), posting));
      EXPECT_EQ(before + 1, ServerCount(c.counted));
    }
  }

  // A folder gone between opening and saving: the server refuses the APPEND
  // before its literal, so the connection stays in step for the next one.
  ASSERT_NO_FATAL_FAILURE(
      MakeServerProfile(L"Case", "alice", L"127.0.0.1", "IMAP_TLS_PORT", {L"Team#" + gone, L"Team#" + kept}));
  Session session = LogonOrFail(L"Case", Wide(Setting("IMAP_PASSWORD")).c_str());
  Store store = OpenStore(session.get(), L"Team");
  Folder goneFolder = OpenPath(store.get(), {gone}, MAPI_MODIFY);
  Folder keptFolder = OpenPath(store.get(), {kept}, MAPI_MODIFY);
  ASSERT_TRUE(goneFolder && keptFolder);
  OtherClient([&](kvimap::ImapClient& client) { EXPECT_TRUE(client.Delete(L"Team/" + gone).ok()); });
  posting_client::Posting posting;
  posting.bytes.assign(4 << 20, 0x42);
  EXPECT_EQ(MAPI_E_NOT_FOUND, posting_client::PostThroughMapi(goneFolder.get(), posting));
  EXPECT_EQ(S_OK, posting_client::PostThroughMapi(keptFolder.get(), posting));
  EXPECT_EQ(1u, ServerCount(L"Team/" + kept));
}

}  // namespace
}  // namespace provider_test
