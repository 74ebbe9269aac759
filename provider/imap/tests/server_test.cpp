// The client against the real Dovecot the fixture started, and against the
// scripted fake server for what Dovecot will not do.
#include <kvimap/imap_client.h>
#include <kvimap/mailbox_name.h>
#include <kvimap/mime_message.h>

#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "imap_test_support.h"

namespace {

using namespace kvimap;
using namespace kvimap_test;

ConnectOptions Options(Security security, const char* portKey, const char* pinKey = "IMAP_PIN") {
  ConnectOptions options;
  options.host = L"localhost";
  options.port = Port(portKey);
  options.security = security;
  options.pinnedSha256 = Setting(pinKey);
  options.tcp.ioTimeoutMs = 30000;
  return options;
}

void LogIn(ImapClient& client, const char* user, const char* password) {
  Status status = client.Connect(Options(Security::ImplicitTls, "IMAP_TLS_PORT"));
  ASSERT_TRUE(status.ok()) << Describe(status);
  status = client.Login(Wide(Setting(user)), Wide(Setting(password)));
  ASSERT_TRUE(status.ok()) << Describe(status);
}

// The password as LOGIN or AUTHENTICATE PLAIN would carry it in the clear.
bool HoldsPassword(const std::string& written, const std::string& user, const std::string& password) {
  std::string plain = std::string(1, '\0') + user + std::string(1, '\0') + password;
  char base64[256];
  DWORD size = sizeof(base64);
  CryptBinaryToStringA(reinterpret_cast<const BYTE*>(plain.data()), static_cast<DWORD>(plain.size()),
                       CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, base64, &size);
  return written.find(password) != std::string::npos || written.find(std::string(base64, size)) != std::string::npos;
}

uint32_t Messages(ImapClient& client, const wchar_t* mailbox) {
  SelectedMailbox selected;
  Status status = client.Select(mailbox, true, &selected);
  EXPECT_TRUE(status.ok()) << Describe(status);
  return selected.exists;
}

TEST(Dovecot, LogsInAndSendsNoPasswordBeforeTls) {
  const struct {
    Security security;
    const char* port;
    size_t readLimit;  // TLS records and replies arriving in pieces of at most this
  } cases[] = {{Security::None, "IMAP_PLAIN_PORT", 0}, {Security::ImplicitTls, "IMAP_TLS_PORT", 0},
               {Security::StartTls, "IMAP_PLAIN_PORT", 0}, {Security::ImplicitTls, "IMAP_TLS_PORT", 3}};
  for (const auto& c : cases) {
    ImapClient client;
    std::shared_ptr<Recording> recording;
    Status status =
        OpenRecorded(client, L"127.0.0.1", Port(c.port), Options(c.security, c.port), &recording, c.readLimit);
    ASSERT_TRUE(status.ok()) << Describe(status);
    EXPECT_EQ(c.security != Security::None, client.IsSecure());
    status = client.Login(L"alice", Wide(Setting("IMAP_PASSWORD")));
    ASSERT_TRUE(status.ok()) << Describe(status);
    EXPECT_EQ(c.security == Security::None, HoldsPassword(recording->written, "alice", Setting("IMAP_PASSWORD")))
        << "security " << static_cast<int>(c.security);
    std::vector<MailboxInfo> mailboxes;
    status = client.List(L"", L"*", &mailboxes);
    EXPECT_TRUE(status.ok()) << Describe(status);
    EXPECT_LE(4u, mailboxes.size());
    EXPECT_TRUE(client.Logout().ok());
  }
}

TEST(Dovecot, RefusesCertificatesItCannotTrust) {
  const struct {
    const char* what;
    const wchar_t* tcpHost;
    const char* port;
    Security security;
    const wchar_t* name;
    const char* pin;  // nullptr: chain validation
    Result result;
    CertificateProblem problem;
  } cases[] = {
      {"pinned, named by its IP", L"127.0.0.1", "IMAP_TLS_PORT", Security::ImplicitTls, L"127.0.0.1", "IMAP_PIN",
       Result::Ok, CertificateProblem::None},
      {"pin of another certificate", L"127.0.0.1", "IMAP_TLS_PORT", Security::ImplicitTls, L"localhost",
       "IMAP_EXPIRED_PIN", Result::CertificateRefused, CertificateProblem::WrongPin},
      {"pinned, another name", L"127.0.0.1", "IMAP_TLS_PORT", Security::ImplicitTls, L"wronghost", "IMAP_PIN",
       Result::CertificateRefused, CertificateProblem::WrongHost},
      {"self-signed, no pin", L"127.0.0.1", "IMAP_TLS_PORT", Security::ImplicitTls, L"localhost", nullptr,
       Result::CertificateRefused, CertificateProblem::Untrusted},
      {"self-signed, no pin, another name", L"127.0.0.1", "IMAP_TLS_PORT", Security::ImplicitTls, L"wronghost",
       nullptr, Result::CertificateRefused, CertificateProblem::Untrusted},
      {"expired, pinned", L"127.0.0.2", "IMAP_EXPIRED_PORT", Security::ImplicitTls, L"localhost",
       "IMAP_EXPIRED_PIN", Result::CertificateRefused, CertificateProblem::Expired},
      {"STARTTLS, pin of another certificate", L"127.0.0.1", "IMAP_PLAIN_PORT", Security::StartTls, L"localhost",
       "IMAP_EXPIRED_PIN", Result::CertificateRefused, CertificateProblem::WrongPin},
  };
  for (const auto& c : cases) {
    ConnectOptions options = Options(c.security, c.port);
    options.host = c.name;
    options.pinnedSha256 = c.pin ? Setting(c.pin) : std::string();
    ImapClient client;
    std::shared_ptr<Recording> recording;
    Status status = OpenRecorded(client, c.tcpHost, options.port, options, &recording);
    EXPECT_EQ(c.result, status.result) << c.what << ": " << Describe(status);
    EXPECT_EQ(c.problem, status.certificate) << c.what << ": " << Describe(status);
    if (status.ok()) continue;
    EXPECT_NE(Result::Ok, client.Login(L"alice", Wide(Setting("IMAP_PASSWORD"))).result) << c.what;
    EXPECT_FALSE(HoldsPassword(recording->written, "alice", Setting("IMAP_PASSWORD"))) << c.what;
  }
}

TEST(Dovecot, TellsAWrongPasswordAndStaysUsable) {
  ImapClient client;
  ASSERT_TRUE(client.Connect(Options(Security::ImplicitTls, "IMAP_TLS_PORT")).ok());
  Status status = client.Login(L"alice", L"not-her-password");
  EXPECT_EQ(Result::WrongLogin, status.result) << Describe(status);
  EXPECT_FALSE(status.serverText.empty());
  EXPECT_TRUE(client.Login(L"alice", Wide(Setting("IMAP_PASSWORD"))).ok());
}

TEST(Dovecot, ListsFoldersWithCountsInOneCommand) {
  ImapClient client;
  std::shared_ptr<Recording> recording;
  ASSERT_TRUE(OpenRecorded(client, L"127.0.0.1", Port("IMAP_PLAIN_PORT"),
                           Options(Security::None, "IMAP_PLAIN_PORT"), &recording).ok());
  ASSERT_TRUE(client.Login(L"alice", Wide(Setting("IMAP_PASSWORD"))).ok());
  Namespaces namespaces;
  ASSERT_TRUE(client.GetNamespaces(&namespaces).ok());
  ASSERT_EQ(1u, namespaces.shared.size());
  std::wstring folder;
  ASSERT_TRUE(JoinMailboxName(namespaces.shared[0].prefix, L"Berichte \u00dc", namespaces.shared[0].separator, &folder).ok());
  Status created = client.Create(folder);
  ASSERT_TRUE(created.ok() || created.result == Result::AlreadyExists) << Describe(created);

  size_t before = recording->written.size();
  std::vector<MailboxInfo> mailboxes;
  ASSERT_TRUE(client.List(L"", L"*", &mailboxes).ok());
  std::string sent = recording->written.substr(before);
  EXPECT_EQ(1, std::count(sent.begin(), sent.end(), '\n')) << sent;
  for (const wchar_t* name : {L"INBOX", L"Team/Reports", L"Team/ReadOnly", L"Team/Berichte \u00dc", L"Team"}) {
    auto found = std::find_if(mailboxes.begin(), mailboxes.end(), [&](const MailboxInfo& m) { return m.name == name; });
    ASSERT_NE(mailboxes.end(), found) << "no folder " << folder.size();
    EXPECT_EQ(L'/', found->separator);
    if (std::wstring(name) == L"Team") {
      EXPECT_FALSE(found->selectable);
      EXPECT_TRUE(found->hasChildren);
      continue;
    }
    ASSERT_TRUE(found->hasCounts);
    EXPECT_EQ(Messages(client, name), found->messages);
  }
}

TEST(Dovecot, ShowsAFolderBobMayOnlyRead) {
  ImapClient bob;
  LogIn(bob, "IMAP_READER", "IMAP_READER_PASSWORD");
  std::string rights;
  ASSERT_TRUE(bob.MyRights(L"Team/ReadOnly", &rights).ok());
  EXPECT_NE(std::string::npos, rights.find('r')) << rights;
  EXPECT_EQ(std::string::npos, rights.find('i')) << rights;
  ASSERT_TRUE(bob.MyRights(L"Team/Reports", &rights).ok());
  EXPECT_NE(std::string::npos, rights.find('i')) << rights;
  SelectedMailbox selected;
  ASSERT_TRUE(bob.Select(L"Team/ReadOnly", false, &selected).ok());
  EXPECT_TRUE(selected.readOnly);
}

TEST(Dovecot, AppendsAMessageThatAnotherReaderChecks) {
  const std::string handoff = Setting("IMAP_HANDOFF");
  {
    std::ofstream file(WindowsPath(handoff + "/attachment.bin").c_str(), std::ios::binary);
    PatternSource pattern(150001);
    std::string bytes(150001, '\0');
    size_t got = 0;
    ASSERT_TRUE(pattern.Read(&bytes[0], bytes.size(), &got).ok());
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  FileSource attachment;
  ASSERT_TRUE(attachment.Open(WindowsPath(handoff + "/attachment.bin")).ok());
  MimeMessageFields fields;
  fields.fromName = L"Ren\u00e9 M\u00fcller";
  fields.fromAddress = "rene@example.org";
  GetSystemTime(&fields.date);
  fields.subject = L"Quartalsbericht \u00dcbersicht \u53f0\u5317";
  fields.threadTopic = fields.subject;
  fields.importance = Importance::High;
  fields.messageClass = "IPM.Note.KV2FOLD.Report";
  fields.body = L"Gr\u00fc\u00dfe\r\n";
  ASSERT_TRUE(NewMessageId("kv2fold.test", &fields.messageId).ok());
  const std::wstring fileName = L"Bericht \u00dcber das dritte Quartal \u2013 \u53f0\u5317 Filiale, endg\u00fcltige Fassung.bin";
  fields.attachments.push_back({fileName, "application/octet-stream", &attachment});
  MimeMessage message;
  ASSERT_TRUE(message.Prepare(fields).ok());

  ImapClient alice;
  LogIn(alice, "IMAP_USER", "IMAP_PASSWORD");
  AppendResult appended;
  Status status = alice.Append(L"Team/Reports", &message, false, fields.messageId, &appended);
  ASSERT_TRUE(status.ok()) << Describe(status);
  ASSERT_NE(0u, appended.uid);
  SelectedMailbox selected;
  ASSERT_TRUE(alice.Select(L"Team/Reports", true, &selected).ok());
  std::vector<MessageSummary> summaries;
  ASSERT_TRUE(alice.FetchSummaries(appended.uid, appended.uid, &summaries).ok());
  ASSERT_EQ(1u, summaries.size());
  EXPECT_EQ(fields.subject, summaries[0].subject);
  EXPECT_EQ(fields.messageId, summaries[0].messageId);
  EXPECT_EQ(fields.messageClass, summaries[0].messageClass);
  EXPECT_EQ(L"Ren\u00e9 M\u00fcller <rene@example.org>", summaries[0].from);
  EXPECT_EQ(message.Size(), summaries[0].size);

  // For check_message.py, run by CTest after this program.
  std::string subject, name;
  ASSERT_TRUE(Utf16ToUtf8(fields.subject, &subject).ok() && Utf16ToUtf8(fileName, &name).ok());
  std::ofstream expected(WindowsPath(handoff + "/expected.env").c_str(), std::ios::binary);
  expected << "MESSAGE_ID=" << fields.messageId << "\nSUBJECT=" << subject << "\nCLASS=" << fields.messageClass
           << "\nFROM=rene@example.org\nFILENAME=" << name << "\nATTACHMENT=" << handoff << "/attachment.bin\n";
}

TEST(Dovecot, RefusedAppendSendsNothingOfTheMessage) {
  const struct {
    const char* user;
    const char* password;
    const wchar_t* mailbox;
    Result expected;
  } cases[] = {{"IMAP_READER", "IMAP_READER_PASSWORD", L"Team/ReadOnly", Result::NoAccess},
               {"IMAP_USER", "IMAP_PASSWORD", L"Team/Missing", Result::FolderNotFound}};
  for (const auto& c : cases) {
    ImapClient client;
    std::shared_ptr<Recording> recording;
    ASSERT_TRUE(OpenRecorded(client, L"127.0.0.1", Port("IMAP_PLAIN_PORT"),
                             Options(Security::None, "IMAP_PLAIN_PORT"), &recording).ok());
    ASSERT_TRUE(client.Login(Wide(Setting(c.user)), Wide(Setting(c.password))).ok());
    SelectedMailbox selected;
    Status existed = client.Select(c.mailbox, true, &selected);
    PatternSource source(100000);
    size_t before = recording->written.size();
    AppendResult appended;
    Status status = client.Append(c.mailbox, &source, false, std::string(), &appended);
    EXPECT_EQ(c.expected, status.result) << Describe(status);
    std::string sent = recording->written.substr(before);
    EXPECT_EQ(1, std::count(sent.begin(), sent.end(), '\n')) << "only the command line: " << sent;
    EXPECT_LT(sent.size(), 100u) << sent;
    SelectedMailbox after;
    EXPECT_EQ(existed.result, client.Select(c.mailbox, true, &after).result);
    EXPECT_EQ(selected.exists, after.exists);
  }
}

TEST(Dovecot, StreamsALargeAttachmentInFlatMemory) {
  PatternSource big(32u << 20);
  MimeMessageFields fields;
  fields.fromAddress = "alice@localhost";
  GetSystemTime(&fields.date);
  fields.subject = L"big";
  fields.messageId = "<big@kv2fold.test>";
  fields.attachments.push_back({L"big.bin", "application/octet-stream", &big});
  MimeMessage message;
  ASSERT_TRUE(message.Prepare(fields).ok());
  ImapClient alice;
  LogIn(alice, "IMAP_USER", "IMAP_PASSWORD");
  PROCESS_MEMORY_COUNTERS before = {}, after = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
  AppendResult appended;
  Status status = alice.Append(L"INBOX", &message, true, fields.messageId, &appended);
  ASSERT_TRUE(status.ok()) << Describe(status);
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
  EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, size_t(8) << 20)
      << "peak working set grew while " << message.Size() << " bytes went out";
  SelectedMailbox selected;
  ASSERT_TRUE(alice.Select(L"INBOX", true, &selected).ok());
  std::vector<MessageSummary> summaries;
  ASSERT_TRUE(alice.FetchSummaries(appended.uid, appended.uid, &summaries).ok());
  ASSERT_EQ(1u, summaries.size());
  EXPECT_EQ(message.Size(), summaries[0].size);
}

TEST(Connection, TellsAServerNobodyListensOn) {
  WSADATA winsock;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &winsock));
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);  // a port that was free a moment ago
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof(address);
  ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&address), size));
  ASSERT_EQ(0, getsockname(s, reinterpret_cast<sockaddr*>(&address), &size));
  closesocket(s);
  ConnectOptions options;
  options.host = L"127.0.0.1";
  options.port = ntohs(address.sin_port);
  ImapClient client;
  Status status = client.Connect(options);
  EXPECT_EQ(Result::Unreachable, status.result) << Describe(status);
  EXPECT_EQ(Result::ConnectionLost, client.Login(L"alice", L"x").result);
  WSACleanup();
}

ConnectOptions Fake() {
  ConnectOptions options;
  options.host = L"127.0.0.1";
  options.port = Port("IMAP_FAKE_PORT");
  options.security = Security::None;
  return options;
}

TEST(FakeServer, FindsTheUidByMessageIdWithoutUidplus) {
  ImapClient client;
  ASSERT_TRUE(client.Connect(Fake()).ok());
  ASSERT_TRUE(client.Login(L"carol", L"p\u00e4ss \"w\u00f6rd\"").ok()) << "a LOGIN with a literal password";
  SelectedMailbox selected;
  ASSERT_TRUE(client.Select(L"INBOX.Reports", true, &selected).ok());
  std::string text = "Message-ID: <fake-1@kv2fold.test>\r\nSubject: x\r\n\r\nbody\r\n";
  MemorySource source(text.data(), text.size());
  AppendResult appended;
  Status status = client.Append(L"INBOX.Reports", &source, false, "<fake-1@kv2fold.test>", &appended);
  ASSERT_TRUE(status.ok()) << Describe(status);
  EXPECT_EQ(selected.uidNext, appended.uid);
  EXPECT_EQ(7u, appended.uidValidity);
  MemorySource again(text.data(), text.size());
  EXPECT_EQ(Result::FolderNotFound, client.Append(L"INBOX.Missing", &again, false, "", &appended).result);
}

TEST(FakeServer, WorksWithTheDotSeparatorAndWithoutListStatus) {
  ImapClient client;
  std::shared_ptr<Recording> recording;
  ASSERT_TRUE(OpenRecorded(client, L"127.0.0.1", Port("IMAP_FAKE_PORT"), Fake(), &recording).ok());
  ASSERT_TRUE(client.Login(L"carol", L"secret").ok());
  Namespaces namespaces;
  ASSERT_TRUE(client.GetNamespaces(&namespaces).ok());
  ASSERT_EQ(1u, namespaces.personal.size());
  EXPECT_EQ(L"INBOX.", namespaces.personal[0].prefix);
  EXPECT_EQ(L'.', namespaces.personal[0].separator);
  std::wstring name;
  EXPECT_EQ(Result::InvalidName, JoinMailboxName(L"INBOX.", L"Q1.2025", L'.', &name).result);
  ASSERT_TRUE(JoinMailboxName(L"INBOX.", L"Berichte \u00dc", L'.', &name).ok());
  ASSERT_TRUE(client.Create(name).ok());
  EXPECT_NE(std::string::npos, recording->written.find("CREATE \"INBOX.Berichte &ANw-\""));
  std::vector<MailboxInfo> mailboxes;
  ASSERT_TRUE(client.List(L"", L"*", &mailboxes).ok());
  auto found = std::find_if(mailboxes.begin(), mailboxes.end(), [&](const MailboxInfo& m) { return m.name == name; });
  ASSERT_NE(mailboxes.end(), found);
  EXPECT_EQ(L'.', found->separator);
  for (const MailboxInfo& m : mailboxes) EXPECT_TRUE(m.hasCounts) << "STATUS per folder";
  EXPECT_NE(std::string::npos, recording->written.find("STATUS \"INBOX.Berichte &ANw-\" (MESSAGES UNSEEN)"));
}

TEST(FakeServer, ReportsAByeInTheMiddleOfALiteral) {
  ImapClient client;
  ASSERT_TRUE(client.Connect(Fake()).ok());
  ASSERT_TRUE(client.Login(L"bye", L"secret").ok());
  PatternSource source(4u << 20);
  AppendResult appended;
  Status status = client.Append(L"INBOX", &source, false, "", &appended);
  EXPECT_EQ(Result::ConnectionLost, status.result) << Describe(status);
  EXPECT_EQ("shutting down in the middle of your message", status.serverText);
  std::vector<MailboxInfo> mailboxes;
  EXPECT_EQ(Result::ConnectionLost, client.List(L"", L"*", &mailboxes).result);
}

TEST(FakeServer, SendsNoPasswordWhenStartTlsIsMissing) {
  ConnectOptions options = Fake();
  options.security = Security::StartTls;
  ImapClient client;
  std::shared_ptr<Recording> recording;
  EXPECT_EQ(Result::TlsUnavailable, OpenRecorded(client, L"127.0.0.1", options.port, options, &recording).result);
  EXPECT_NE(Result::Ok, client.Login(L"carol", L"secret-of-carol").result);
  EXPECT_EQ(std::string::npos, recording->written.find("secret-of-carol"));
  EXPECT_EQ(std::string::npos, recording->written.find("LOGIN"));
}

}  // namespace
