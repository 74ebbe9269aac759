// An IMAP4rev1 client (RFC 3501) for one connection, with the extensions a
// message store needs: NAMESPACE, LIST-EXTENDED and LIST-STATUS, ACL
// (MYRIGHTS), UIDPLUS, LITERAL+ and SASL-IR. Commands run one at a time; every
// method is noexcept and answers a Status.
//
// Security is the caller's choice and binds the client: with StartTls or
// ImplicitTls no password is ever sent unless TLS is up, whatever the server
// offers. Only Security::None sends a password in plain text.
//
// After ConnectionLost or ProtocolError the connection is gone: every later
// call answers ConnectionLost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <kvimap/byte_stream.h>
#include <kvimap/response_parser.h>
#include <kvimap/tcp_stream.h>
#include <kvimap/tls_stream.h>

namespace kvimap {

enum class Security { None, StartTls, ImplicitTls };

struct ConnectOptions {
  std::wstring host;  // also the name the certificate must carry
  uint16_t port = 993;
  Security security = Security::ImplicitTls;
  std::string pinnedSha256;  // see TlsOptions
  TcpOptions tcp;
  const SecurityFunctionTableW* sspi = nullptr;
};

struct Namespace {
  std::wstring prefix;   // "", "Team/", "INBOX."
  wchar_t separator = 0;  // 0 for a flat namespace (NIL)
};
struct Namespaces {
  std::vector<Namespace> personal, otherUsers, shared;
};

struct MailboxInfo {
  std::wstring name;      // decoded full name
  std::string wireName;   // as the server sends it (modified UTF-7)
  wchar_t separator = 0;
  bool selectable = true;  // no \Noselect or \NonExistent
  bool hasChildren = false;
  bool hasCounts = false;  // messages and unseen are known
  uint32_t messages = 0;
  uint32_t unseen = 0;
};

struct SelectedMailbox {
  uint32_t exists = 0;
  uint32_t uidValidity = 0;
  uint32_t uidNext = 0;
  bool readOnly = false;
};

struct MessageSummary {
  uint32_t uid = 0;
  uint64_t size = 0;           // RFC822.SIZE
  std::string internalDate;    // as the server wrote it: "17-Jul-1996 02:44:25 -0700"
  std::wstring subject;        // RFC 2047 words decoded (UTF-8 and ASCII charsets)
  std::wstring from;           // the header's text, words decoded
  std::string messageId;
  std::string messageClass;    // X-MAPI-Message-Class in UTF-8, words decoded; empty when absent
  std::wstring displayName;    // X-MAPI-Display-Name, words decoded; empty when absent
};

struct AppendResult {
  uint32_t uidValidity = 0;  // 0 when the server named no uid and no Message-ID search found one
  uint32_t uid = 0;
};

class ImapClient {
 public:
  ImapClient() noexcept;
  ~ImapClient();
  ImapClient(const ImapClient&) = delete;
  ImapClient& operator=(const ImapClient&) = delete;

  // Opens TCP (and TLS for ImplicitTls), reads the greeting and the
  // capabilities, runs STARTTLS for StartTls. TlsUnavailable when StartTls
  // was asked and the server offers none.
  [[nodiscard]] Status Connect(const ConnectOptions& options) noexcept;
  // The same over a connection the caller made (a proxy, a test's recorder);
  // options.host and port are used for TLS only.
  [[nodiscard]] Status Open(std::unique_ptr<ByteStream> transport, const ConnectOptions& options) noexcept;

  // AUTHENTICATE PLAIN where offered, else LOGIN with quoted or literal
  // arguments. TlsUnavailable (nothing sent) without TLS unless the security
  // is None; WrongLogin when the server refuses.
  [[nodiscard]] Status Login(const std::wstring& user, const std::wstring& password) noexcept;

  [[nodiscard]] Status GetNamespaces(Namespaces* namespaces) noexcept;
  // All folders under reference matching pattern ("*" for all), with message
  // and unseen counts for selectable ones: one LIST ... RETURN (CHILDREN
  // STATUS (MESSAGES UNSEEN)) with LIST-STATUS, else LIST and a STATUS each.
  [[nodiscard]] Status List(const std::wstring& reference, const std::wstring& pattern,
                            std::vector<MailboxInfo>* mailboxes) noexcept;
  // The same for several patterns: one command with LIST-EXTENDED (RFC 5258),
  // else one LIST each. A folder two patterns match is listed once. Without
  // withCounts no counts are asked for.
  [[nodiscard]] Status List(const std::wstring& reference, const std::vector<std::wstring>& patterns,
                            bool withCounts, std::vector<MailboxInfo>* mailboxes) noexcept;
  // The rights letters of RFC 4314 for the logged-in user ("lr" reads only).
  // Without ACL the answer is "lrswipkxtea" (the server will say NO itself).
  [[nodiscard]] Status MyRights(const std::wstring& mailbox, std::string* rights) noexcept;
  [[nodiscard]] Status Create(const std::wstring& mailbox) noexcept;
  [[nodiscard]] Status Delete(const std::wstring& mailbox) noexcept;
  // SELECT, or EXAMINE when readOnly.
  [[nodiscard]] Status Select(const std::wstring& mailbox, bool readOnly, SelectedMailbox* selected) noexcept;
  // UIDs in the selected folder whose Message-ID header holds messageId.
  [[nodiscard]] Status SearchMessageId(const std::string& messageId, std::vector<uint32_t>* uids) noexcept;
  // What a contents table shows, for UIDs first..last of the selected
  // folder (last 0: to the end).
  [[nodiscard]] Status FetchSummaries(uint32_t first, uint32_t last, std::vector<MessageSummary>* messages) noexcept;
  // APPEND with a synchronizing literal of message->Size() bytes, read from
  // message as they are sent. When the server refuses before the literal
  // (NO [NOPERM], NO [TRYCREATE]) nothing of it is sent. The uid comes from
  // APPENDUID; without UIDPLUS and with a messageId, from EXAMINE and a
  // search (which leaves that folder selected).
  [[nodiscard]] Status Append(const std::wstring& mailbox, ByteSource* message, bool seen,
                              const std::string& messageId, AppendResult* result) noexcept;
  [[nodiscard]] Status Logout() noexcept;

  bool IsSecure() const noexcept { return secure_; }
  bool HasCapability(const char* name) const noexcept;  // case-insensitive
  // The hierarchy separator of the personal namespace (LIST "" ""), asked
  // once; 0 for a flat server.
  [[nodiscard]] Status Separator(wchar_t* separator) noexcept;

 private:
  Status Establish(std::unique_ptr<ByteStream> transport, const ConnectOptions& options);
  Status ReadResponse(Response* response);
  // texts.size() == literals.size() + 1: texts[0] {n0} literal0 texts[1] ...
  Status Run(const std::vector<std::string>& texts, const std::vector<ByteSource*>& literals,
             Response* completion, std::vector<Response>* untagged);
  Status Run(const std::string& command, Response* completion, std::vector<Response>* untagged);
  Status Finish(const std::string& tag, Response* completion, std::vector<Response>* untagged);
  Status Write(const std::string& text);
  Status StreamLiteral(ByteSource* literal, const std::string& after);
  Status Lost(Status status) noexcept;
  Status AskCapabilities();
  void TakeCapabilities(const std::vector<Response>& untagged, const Response& completion);

  std::unique_ptr<ByteStream> stream_;
  ResponseParser parser_;
  std::vector<char> readBuffer_;
  std::vector<char> literalBuffer_;

  std::vector<std::string> capabilities_;
  ConnectOptions options_;
  bool secure_ = false;
  bool broken_ = true;
  std::string byeText_;
  uint32_t tagNumber_ = 0;
  wchar_t separator_ = 0;
  bool separatorKnown_ = false;
};

// The category of a tagged NO, from its response code; fallback when the
// code says nothing.
[[nodiscard]] Status StatusFromCompletion(const Response& completion, Result fallback) noexcept;

}  // namespace kvimap
