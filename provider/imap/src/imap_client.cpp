#include <kvimap/imap_client.h>

#include <kvimap/mailbox_name.h>

#include "mime_text.h"

#include <algorithm>
#include <cstring>

namespace kvimap {
namespace {

const size_t kIoChunk = 64 * 1024;
// A literal goes out in large writes: fewer system calls for a message of hundreds of MiB.
const size_t kLiteralChunk = 1024 * 1024;

bool SameText(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
    char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A quoted string carries 7-bit text without CR, LF and NUL; the rest goes
// as a literal.
bool Quotable(const std::string& text) {
  return text.size() < 1000 && std::all_of(text.begin(), text.end(), [](char c) {
           return c != '\r' && c != '\n' && c != '\0' && static_cast<unsigned char>(c) < 0x80;
         });
}

Status MailboxArgument(const std::wstring& name, std::string* argument) {
  std::string encoded;
  Status status = EncodeMailboxName(name, &encoded);
  if (status.ok()) *argument = Quote(encoded);
  return status;
}

// A string, or NIL as empty.
std::string Text(const Value& value) { return value.IsNil() && value.kind == Value::Kind::Atom ? std::string() : value.text; }

uint32_t Number32(const Value& value) {
  uint64_t n = 0;
  return value.ToNumber(&n) && n <= 0xffffffffu ? static_cast<uint32_t>(n) : 0;
}

wchar_t SeparatorOf(const Value& value) {
  if (value.kind != Value::Kind::String || value.text.size() != 1) return 0;
  return static_cast<wchar_t>(static_cast<unsigned char>(value.text[0]));
}

std::wstring DecodedName(const std::string& wire) {
  std::wstring name;
  if (DecodeMailboxName(wire, &name).ok()) return name;
  return DecodeHeaderText(wire);  // not modified UTF-7: show the octets as they are
}

const char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string& data) {
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    unsigned v = static_cast<unsigned>(static_cast<unsigned char>(data[i])) << 16;
    if (i + 1 < data.size()) v |= static_cast<unsigned>(static_cast<unsigned char>(data[i + 1])) << 8;
    if (i + 2 < data.size()) v |= static_cast<unsigned char>(data[i + 2]);
    out += kBase64Digits[(v >> 18) & 63];
    out += kBase64Digits[(v >> 12) & 63];
    out += i + 1 < data.size() ? kBase64Digits[(v >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kBase64Digits[v & 63] : '=';
  }
  return out;
}

}  // namespace

Status StatusFromCompletion(const Response& completion, Result fallback) noexcept {
  if (completion.condition == Response::Condition::Ok) return Status();
  if (completion.condition == Response::Condition::Bad) return Failure(Result::ProtocolError, completion.text);
  static const struct {
    const char* code;
    Result result;
  } kCodes[] = {{"NOPERM", Result::NoAccess},          {"TRYCREATE", Result::FolderNotFound},
                {"NONEXISTENT", Result::FolderNotFound}, {"ALREADYEXISTS", Result::AlreadyExists},
                {"AUTHENTICATIONFAILED", Result::WrongLogin}, {"AUTHORIZATIONFAILED", Result::WrongLogin},
                {"EXPIRED", Result::WrongLogin},         {"OVERQUOTA", Result::OverQuota},
                {"TOOBIG", Result::TooBig},              {"LIMIT", Result::TooBig},
                {"UNAVAILABLE", Result::Unreachable},    {"PRIVACYREQUIRED", Result::TlsUnavailable}};
  Result result = fallback;
  for (const auto& entry : kCodes) {
    if (completion.code == entry.code) result = entry.result;
  }
  return Failure(result, completion.text);
}

ImapClient::ImapClient() noexcept = default;

ImapClient::~ImapClient() {
  if (stream_) stream_->Close();
}

bool ImapClient::HasCapability(const char* name) const noexcept {
  for (const std::string& capability : capabilities_) {
    if (SameText(capability, name)) return true;
  }
  return false;
}

Status ImapClient::Lost(Status status) noexcept {
  broken_ = true;
  if (stream_) stream_->Close();
  stream_.reset();
  try {
    if (status.result == Result::ConnectionLost && !byeText_.empty()) status.serverText = byeText_;
  } catch (...) {  // the category stands without the server's words
  }
  return status;
}

Status ImapClient::Write(const std::string& text) {
  Status status = stream_->WriteAll(text.data(), text.size());
  if (status.ok()) return status;
  // The server may have said why before it went: read its BYE if any.
  Response response;
  while (ReadResponse(&response).ok()) {
  }
  status.result = Result::ConnectionLost;
  return Lost(status);
}

Status ImapClient::ReadResponse(Response* response) {
  if (!stream_) return Failure(Result::ConnectionLost, "not connected");
  for (;;) {
    if (parser_.Next(response)) {
      if (response->kind == Response::Kind::Untagged && response->condition == Response::Condition::Bye)
        byeText_ = response->text;
      return Status();
    }
    readBuffer_.resize(kIoChunk);
    size_t got = 0;
    Status status = stream_->ReadSome(readBuffer_.data(), readBuffer_.size(), &got);
    if (!status.ok()) return Lost(status);
    if (got == 0) return Lost(Failure(Result::ConnectionLost, "the server closed the connection"));
    status = parser_.Feed(readBuffer_.data(), got);
    if (!status.ok()) return Lost(status);
  }
}

Status ImapClient::Finish(const std::string& tag, Response* completion, std::vector<Response>* untagged) {
  for (;;) {
    Response response;
    Status status = ReadResponse(&response);
    if (!status.ok()) return status;
    if (response.kind == Response::Kind::Continuation)
      return Lost(Failure(Result::ProtocolError, "the server asked for data no command has"));
    if (response.kind == Response::Kind::Tagged) {
      if (response.tag != tag) return Lost(Failure(Result::ProtocolError, "a reply to a command not sent"));
      *completion = std::move(response);
      return StatusFromCompletion(*completion, Result::Refused);
    }
    if (response.condition != Response::Condition::Bye && untagged) untagged->push_back(std::move(response));
  }
}

Status ImapClient::StreamLiteral(ByteSource* literal, const std::string& after) {
  uint64_t left = literal->Size();
  literalBuffer_.resize(kLiteralChunk + after.size());
  // The text after the literal goes out with its last bytes: one write, one
  // TLS record, one segment fewer for each small message.
  for (bool done = false; !done;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, kLiteralChunk));
    size_t got = 0;
    Status status;
    if (want > 0) {
      status = literal->Read(literalBuffer_.data(), want, &got);
      if (status.ok() && got == 0) status = Failure(Result::SourceFailed, "the data ended before its announced size");
      // Half a literal cannot be taken back: the connection has to go.
      if (!status.ok()) return Lost(status);
    }
    left -= got;
    done = left == 0;
    if (done) {
      std::memcpy(literalBuffer_.data() + got, after.data(), after.size());
      got += after.size();
    }
    status = stream_->WriteAll(literalBuffer_.data(), got);
    if (!status.ok()) {
      Response response;
      while (ReadResponse(&response).ok()) {
      }
      status.result = Result::ConnectionLost;
      return Lost(status);
    }
  }
  return Status();
}

Status ImapClient::Run(const std::vector<std::string>& texts, const std::vector<ByteSource*>& literals,
                       Response* completion, std::vector<Response>* untagged) {
  if (broken_ || !stream_) return Failure(Result::ConnectionLost, "not connected");
  Response local;
  if (completion == nullptr) completion = &local;
  std::string tag = "K" + std::to_string(++tagNumber_);
  for (ByteSource* literal : literals) {
    if (literal->Size() > 0xffffffffu) return Failure(Result::TooBig, "the message is larger than IMAP can carry");
  }
  std::string line = tag + " " + texts[0];
  if (!literals.empty()) line += "{" + std::to_string(literals[0]->Size()) + "}\r\n";
  for (size_t i = 0; i < literals.size(); ++i) {
    Status status;
    if (!line.empty()) status = Write(line);
    if (!status.ok()) return status;
    // A synchronizing literal: the server says go on (+) or refuses the
    // command first, and then we send nothing of it.
    for (;;) {
      Response response;
      status = ReadResponse(&response);
      if (!status.ok()) return status;
      if (response.kind == Response::Kind::Continuation) break;
      if (response.kind == Response::Kind::Tagged) {
        if (response.tag != tag) return Lost(Failure(Result::ProtocolError, "a reply to a command not sent"));
        *completion = std::move(response);
        return StatusFromCompletion(*completion, Result::Refused);
      }
      if (response.condition != Response::Condition::Bye && untagged) untagged->push_back(std::move(response));
    }
    // What follows the literal: the next literal's announcement, or the end of the command.
    std::string after = texts[i + 1] +
                        (i + 1 < literals.size() ? "{" + std::to_string(literals[i + 1]->Size()) + "}\r\n" : "\r\n");
    status = StreamLiteral(literals[i], after);
    if (!status.ok()) return status;
    line.clear();
  }
  if (literals.empty()) {
    Status status = Write(line + "\r\n");
    if (!status.ok()) return status;
  }
  return Finish(tag, completion, untagged);
}

Status ImapClient::Run(const std::string& command, Response* completion, std::vector<Response>* untagged) {
  return Run(std::vector<std::string>{command}, std::vector<ByteSource*>{}, completion, untagged);
}

void ImapClient::TakeCapabilities(const std::vector<Response>& untagged, const Response& completion) {
  auto take = [this](const std::vector<Value>& values, size_t first) {
    capabilities_.clear();
    for (size_t i = first; i < values.size(); ++i) capabilities_.push_back(values[i].text);
  };
  for (const Response& response : untagged) {
    if (response.code == "CAPABILITY") take(response.codeArguments, 0);
    if (!response.data.empty() && response.data[0].IsAtom("CAPABILITY")) take(response.data, 1);
  }
  if (completion.code == "CAPABILITY") take(completion.codeArguments, 0);
}

Status ImapClient::AskCapabilities() {
  Response completion;
  std::vector<Response> untagged;
  Status status = Run("CAPABILITY", &completion, &untagged);
  if (status.ok()) TakeCapabilities(untagged, completion);
  return status;
}

Status ImapClient::Establish(std::unique_ptr<ByteStream> transport, const ConnectOptions& options) {
  if (stream_) stream_->Close();
  stream_.reset();
  parser_ = ResponseParser();
  capabilities_.clear();
  secure_ = false;
  broken_ = true;
  byeText_.clear();
  separatorKnown_ = false;
  options_ = options;
  if (!transport) return Status(Result::InvalidArgument);
  TlsOptions tls;
  tls.serverName = options.host;
  tls.pinnedSha256 = options.pinnedSha256;
  tls.sspi = options.sspi;
  if (options.security == Security::ImplicitTls) {
    Status status = StartTls(std::move(transport), tls, &stream_);
    if (!status.ok()) return status;
    secure_ = true;
  } else {
    stream_ = std::move(transport);
  }
  broken_ = false;

  Response greeting;
  Status status = ReadResponse(&greeting);
  if (!status.ok()) return status;
  if (greeting.kind != Response::Kind::Untagged ||
      (greeting.condition != Response::Condition::Ok && greeting.condition != Response::Condition::Preauth)) {
    Result result = greeting.condition == Response::Condition::Bye ? Result::Unreachable : Result::ProtocolError;
    return Lost(Failure(result, greeting.text));
  }
  // Logged in before TLS could start: nothing we could protect any more.
  if (greeting.condition == Response::Condition::Preauth && !secure_ && options.security != Security::None)
    return Lost(Failure(Result::TlsUnavailable, "the server logged in before TLS"));
  TakeCapabilities(std::vector<Response>(), greeting);
  if (capabilities_.empty()) {
    status = AskCapabilities();
    if (!status.ok()) return status;
  }
  if (options.security != Security::StartTls) return Status();

  if (!HasCapability("STARTTLS")) return Lost(Failure(Result::TlsUnavailable, "the server offers no STARTTLS"));
  status = Run("STARTTLS", nullptr, nullptr);
  if (status.result == Result::Refused || status.result == Result::ProtocolError)
    return Lost(Failure(Result::TlsUnavailable, status.serverText));
  if (!status.ok()) return status;
  // Anything after the OK came before TLS and may be an attacker's.
  if (parser_.HasResponse() || parser_.InsideResponse())
    return Lost(Failure(Result::ProtocolError, "plain text after the STARTTLS reply"));
  status = StartTls(std::move(stream_), tls, &stream_);
  if (!status.ok()) return Lost(status);
  secure_ = true;
  capabilities_.clear();
  return AskCapabilities();
}

Status ImapClient::Connect(const ConnectOptions& options) noexcept {
  try {
    broken_ = true;
    std::unique_ptr<ByteStream> tcp;
    Status status = ConnectTcp(options.host, options.port, options.tcp, &tcp);
    if (!status.ok()) return status;
    return Establish(std::move(tcp), options);
  } catch (...) {
    return Lost(Status(Result::OutOfMemory));
  }
}

Status ImapClient::Open(std::unique_ptr<ByteStream> transport, const ConnectOptions& options) noexcept {
  try {
    return Establish(std::move(transport), options);
  } catch (...) {
    return Lost(Status(Result::OutOfMemory));
  }
}

Status ImapClient::Login(const std::wstring& user, const std::wstring& password) noexcept {
  if (broken_) return Failure(Result::ConnectionLost, "not connected");
  // Our rule, whatever the server accepts: no password in plain text unless
  // the caller chose so.
  if (!secure_ && options_.security != Security::None)
    return Failure(Result::TlsUnavailable, "no password is sent without TLS");
  try {
    std::string name, secret;
    Status status = Utf16ToUtf8(user, &name);
    if (status.ok()) status = Utf16ToUtf8(password, &secret);
    if (!status.ok()) return status;
    Response completion;
    std::vector<Response> untagged;
    if (HasCapability("AUTH=PLAIN") && HasCapability("SASL-IR")) {
      std::string plain = std::string(1, '\0') + name + std::string(1, '\0') + secret;
      status = Run("AUTHENTICATE PLAIN " + Base64(plain), &completion, &untagged);
      SecureZeroMemory(&plain[0], plain.size());
    } else if (HasCapability("LOGINDISABLED")) {
      return Failure(Result::TlsUnavailable, "the server refuses LOGIN on this connection");
    } else {
      std::vector<std::string> texts{"LOGIN "};
      std::vector<ByteSource*> literals;
      MemorySource nameLiteral(name.data(), name.size()), secretLiteral(secret.data(), secret.size());
      if (Quotable(name)) {
        texts.back() += Quote(name) + " ";
      } else {
        literals.push_back(&nameLiteral);
        texts.push_back(" ");
      }
      if (Quotable(secret)) {
        texts.back() += Quote(secret);
      } else {
        literals.push_back(&secretLiteral);
        texts.push_back("");
      }
      status = Run(texts, literals, &completion, &untagged);
      for (std::string& text : texts) SecureZeroMemory(&text[0], text.size());
    }
    SecureZeroMemory(&secret[0], secret.size());
    if (status.result == Result::Refused) status.result = Result::WrongLogin;
    if (!status.ok()) return status;
    capabilities_.clear();
    TakeCapabilities(untagged, completion);
    return capabilities_.empty() ? AskCapabilities() : Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::Separator(wchar_t* separator) noexcept {
  try {
    if (!separatorKnown_) {
      std::vector<Response> untagged;
      Status status = Run("LIST \"\" \"\"", nullptr, &untagged);
      if (!status.ok()) return status;
      for (const Response& response : untagged) {
        if (response.data.size() >= 3 && response.data[0].IsAtom("LIST")) separator_ = SeparatorOf(response.data[2]);
      }
      separatorKnown_ = true;
    }
    *separator = separator_;
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::GetNamespaces(Namespaces* namespaces) noexcept {
  try {
    *namespaces = Namespaces();
    if (!HasCapability("NAMESPACE")) {
      Namespace personal;
      Status status = Separator(&personal.separator);
      if (status.ok()) namespaces->personal.push_back(personal);
      return status;
    }
    std::vector<Response> untagged;
    Status status = Run("NAMESPACE", nullptr, &untagged);
    if (!status.ok()) return status;
    for (const Response& response : untagged) {
      if (response.data.size() < 4 || !response.data[0].IsAtom("NAMESPACE")) continue;
      std::vector<Namespace>* lists[] = {&namespaces->personal, &namespaces->otherUsers, &namespaces->shared};
      for (size_t i = 0; i < 3; ++i) {
        for (const Value& entry : response.data[i + 1].items) {
          if (entry.kind != Value::Kind::List || entry.items.size() < 2) continue;
          Namespace space;
          space.prefix = DecodedName(entry.items[0].text);
          space.separator = SeparatorOf(entry.items[1]);
          lists[i]->push_back(space);
        }
      }
    }
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::List(const std::wstring& reference, const std::wstring& pattern,
                        std::vector<MailboxInfo>* mailboxes) noexcept {
  try {
    return List(reference, std::vector<std::wstring>{pattern}, true, mailboxes);
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::List(const std::wstring& reference, const std::vector<std::wstring>& patterns, bool withCounts,
                        std::vector<MailboxInfo>* mailboxes) noexcept {
  try {
    mailboxes->clear();
    if (patterns.empty()) return Status(Result::InvalidArgument);
    std::string ref;
    std::vector<std::string> encoded(patterns.size());
    Status status = MailboxArgument(reference, &ref);
    for (size_t i = 0; status.ok() && i < patterns.size(); ++i) status = MailboxArgument(patterns[i], &encoded[i]);
    if (!status.ok()) return status;
    const bool extended = HasCapability("LIST-EXTENDED");
    const bool withStatus = withCounts && HasCapability("LIST-STATUS");
    std::vector<std::string> commands;
    if (extended && encoded.size() > 1) {
      std::string all;
      for (const std::string& pattern : encoded) all += (all.empty() ? "(" : " ") + pattern;
      commands.push_back("LIST " + ref + " " + all + ")");
    } else {
      for (const std::string& pattern : encoded) commands.push_back("LIST " + ref + " " + pattern);
    }
    for (std::string& command : commands) {
      if (withStatus) command += " RETURN (CHILDREN STATUS (MESSAGES UNSEEN))";
      else if (extended) command += " RETURN (CHILDREN)";
    }
    std::vector<Response> untagged;
    for (const std::string& command : commands) {
      status = Run(command, nullptr, &untagged);
      if (!status.ok()) return status;
    }

    auto countsOf = [](const Value& list, MailboxInfo* info) {
      for (size_t i = 0; i + 1 < list.items.size(); i += 2) {
        if (list.items[i].IsAtom("MESSAGES")) info->messages = Number32(list.items[i + 1]);
        if (list.items[i].IsAtom("UNSEEN")) info->unseen = Number32(list.items[i + 1]);
      }
      info->hasCounts = true;
    };
    for (const Response& response : untagged) {
      const std::vector<Value>& d = response.data;
      if (d.size() >= 4 && d[0].IsAtom("LIST") && d[1].kind == Value::Kind::List) {
        if (std::any_of(mailboxes->begin(), mailboxes->end(),
                        [&](const MailboxInfo& known) { return known.wireName == d[3].text; }))
          continue;
        MailboxInfo info;
        info.wireName = d[3].text;
        info.name = DecodedName(info.wireName);
        info.separator = SeparatorOf(d[2]);
        for (const Value& flag : d[1].items) {
          if (flag.IsAtom("\\NOSELECT") || flag.IsAtom("\\NONEXISTENT")) info.selectable = false;
          if (flag.IsAtom("\\HASCHILDREN")) info.hasChildren = true;
        }
        mailboxes->push_back(std::move(info));
      } else if (d.size() >= 3 && d[0].IsAtom("STATUS") && d[2].kind == Value::Kind::List) {
        for (MailboxInfo& info : *mailboxes) {
          if (info.wireName == d[1].text) countsOf(d[2], &info);
        }
      }
    }
    // Servers without LIST-STATUS: one STATUS per folder. A folder we may
    // not read keeps hasCounts false.
    for (MailboxInfo& info : *mailboxes) {
      if (!withCounts || info.hasCounts || !info.selectable) continue;
      untagged.clear();
      status = Run("STATUS " + Quote(info.wireName) + " (MESSAGES UNSEEN)", nullptr, &untagged);
      if (status.result == Result::ConnectionLost || status.result == Result::OutOfMemory) return status;
      for (const Response& response : untagged) {
        const std::vector<Value>& d = response.data;
        if (d.size() >= 3 && d[0].IsAtom("STATUS") && d[2].kind == Value::Kind::List) countsOf(d[2], &info);
      }
    }
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::MyRights(const std::wstring& mailbox, std::string* rights) noexcept {
  try {
    if (!HasCapability("ACL")) {
      *rights = "lrswipkxtea";
      return Status();
    }
    std::string name;
    Status status = MailboxArgument(mailbox, &name);
    if (!status.ok()) return status;
    std::vector<Response> untagged;
    status = Run("MYRIGHTS " + name, nullptr, &untagged);
    if (!status.ok()) return status;
    for (const Response& response : untagged) {
      if (response.data.size() >= 3 && response.data[0].IsAtom("MYRIGHTS")) {
        *rights = response.data[2].text;
        return Status();
      }
    }
    return Failure(Result::ProtocolError, "MYRIGHTS without rights");
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::Create(const std::wstring& mailbox) noexcept {
  try {
    std::string name;
    Status status = MailboxArgument(mailbox, &name);
    if (!status.ok()) return status;
    return Run("CREATE " + name, nullptr, nullptr);
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::Delete(const std::wstring& mailbox) noexcept {
  try {
    std::string name;
    Status status = MailboxArgument(mailbox, &name);
    if (!status.ok()) return status;
    return Run("DELETE " + name, nullptr, nullptr);
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::Select(const std::wstring& mailbox, bool readOnly, SelectedMailbox* selected) noexcept {
  try {
    *selected = SelectedMailbox();
    std::string name;
    Status status = MailboxArgument(mailbox, &name);
    if (!status.ok()) return status;
    Response completion;
    std::vector<Response> untagged;
    status = Run((readOnly ? "EXAMINE " : "SELECT ") + name, &completion, &untagged);
    if (!status.ok()) return status;
    for (const Response& response : untagged) {
      if (response.code == "UIDVALIDITY" && !response.codeArguments.empty())
        selected->uidValidity = Number32(response.codeArguments[0]);
      if (response.code == "UIDNEXT" && !response.codeArguments.empty())
        selected->uidNext = Number32(response.codeArguments[0]);
      if (response.data.size() == 2 && response.data[1].IsAtom("EXISTS"))
        selected->exists = Number32(response.data[0]);
    }
    selected->readOnly = completion.code == "READ-ONLY";
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::SearchMessageId(const std::string& messageId, std::vector<uint32_t>* uids) noexcept {
  try {
    uids->clear();
    if (!Quotable(messageId) || messageId.empty()) return Failure(Result::InvalidArgument, "not a Message-ID");
    std::vector<Response> untagged;
    Status status = Run("UID SEARCH HEADER Message-ID " + Quote(messageId), nullptr, &untagged);
    if (!status.ok()) return status;
    for (const Response& response : untagged) {
      if (response.data.empty() || !response.data[0].IsAtom("SEARCH")) continue;
      for (size_t i = 1; i < response.data.size(); ++i) uids->push_back(Number32(response.data[i]));
    }
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::FetchSummaries(uint32_t first, uint32_t last, std::vector<MessageSummary>* messages) noexcept {
  try {
    messages->clear();
    if (first == 0 || (last != 0 && last < first)) return Status(Result::InvalidArgument);
    std::string range = std::to_string(first) + ":" + (last == 0 ? std::string("*") : std::to_string(last));
    std::vector<Response> untagged;
    Status status = Run("UID FETCH " + range +
                            " (UID RFC822.SIZE INTERNALDATE BODY.PEEK[HEADER.FIELDS (SUBJECT FROM MESSAGE-ID "
                            "X-MAPI-MESSAGE-CLASS X-MAPI-DISPLAY-NAME)])",
                        nullptr, &untagged);
    if (!status.ok()) return status;
    for (const Response& response : untagged) {
      const std::vector<Value>& d = response.data;
      if (d.size() < 3 || !d[1].IsAtom("FETCH") || d[2].kind != Value::Kind::List) continue;
      MessageSummary summary;
      const std::vector<Value>& items = d[2].items;
      for (size_t i = 0; i + 1 < items.size(); i += 2) {
        const Value& key = items[i];
        const Value& value = items[i + 1];
        if (key.IsAtom("UID")) summary.uid = Number32(value);
        else if (key.IsAtom("RFC822.SIZE")) value.ToNumber(&summary.size);
        else if (key.IsAtom("INTERNALDATE")) summary.internalDate = Text(value);
        else if (key.kind == Value::Kind::Atom && key.text.size() > 5 && SameText(key.text.substr(0, 5), "BODY[")) {
          std::string block = Text(value);
          summary.subject = DecodeHeaderText(HeaderField(block, "Subject"));
          summary.from = DecodeHeaderText(HeaderField(block, "From"));
          summary.messageId = HeaderField(block, "Message-ID");
          Status decoded = Utf16ToUtf8(DecodeHeaderText(HeaderField(block, "X-MAPI-Message-Class")),
                                       &summary.messageClass);
          if (!decoded.ok()) summary.messageClass.clear();
          summary.displayName = DecodeHeaderText(HeaderField(block, "X-MAPI-Display-Name"));
        }
      }
      // "n:*" names the last message even when its uid is below n.
      if (summary.uid >= first && (last == 0 || summary.uid <= last)) messages->push_back(std::move(summary));
    }
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::Append(const std::wstring& mailbox, ByteSource* message, bool seen, const std::string& messageId,
                          AppendResult* result) noexcept {
  try {
    *result = AppendResult();
    if (message == nullptr) return Status(Result::InvalidArgument);
    std::string name;
    Status status = MailboxArgument(mailbox, &name);
    if (!status.ok()) return status;
    Response completion;
    status = Run({"APPEND " + name + (seen ? " (\\Seen) " : " "), ""}, {message}, &completion, nullptr);
    if (!status.ok()) return status;
    if (completion.code == "APPENDUID" && completion.codeArguments.size() >= 2) {
      result->uidValidity = Number32(completion.codeArguments[0]);
      result->uid = Number32(completion.codeArguments[1]);
      return Status();
    }
    if (messageId.empty()) return Status();
    // No UIDPLUS: the newest message with this Message-ID is ours.
    SelectedMailbox selected;
    status = Select(mailbox, true, &selected);
    std::vector<uint32_t> uids;
    if (status.ok()) status = SearchMessageId(messageId, &uids);
    if (!status.ok()) return status;
    if (!uids.empty()) {
      result->uidValidity = selected.uidValidity;
      result->uid = *std::max_element(uids.begin(), uids.end());
    }
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status ImapClient::Logout() noexcept {
  try {
    if (broken_) return Status();
    Status status = Run("LOGOUT", nullptr, nullptr);
    // A server may close right after its BYE.
    if (status.result == Result::ConnectionLost && !byeText_.empty()) status = Status();
    Lost(Status());
    return status;
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

}  // namespace kvimap
