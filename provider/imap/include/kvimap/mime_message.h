// One message as MIME (RFC 5322, 2045-2049, 2047, 2231, 2183), generated on
// the fly: a multipart/mixed with the body as text/plain in UTF-8 and each
// attachment in base64, its bytes read from a ByteSource piece by piece as
// the message is read. The exact size is known before the first byte, as an
// IMAP literal needs.
//
// Headers: From, Date, Subject, Message-ID, Thread-Topic, Importance,
// X-MAPI-Message-Class (the MAPI message class, which MIME has no field for),
// X-MAPI-Display-Name (the message's own name, when it has one), MIME-Version,
// Content-Type. Text outside ASCII goes in RFC 2047 words; no
// line exceeds 78 octets except base64 lines (76 + CRLF).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <kvimap/byte_stream.h>

namespace kvimap {

enum class Importance { Low, Normal, High };

struct MimeAttachment {
  std::wstring fileName;
  std::string contentType = "application/octet-stream";
  ByteSource* content = nullptr;  // not owned; read once, from its start
};

struct MimeMessageFields {
  std::wstring fromName;     // may be empty
  std::string fromAddress;   // an ASCII mail address: alice@example.org
  SYSTEMTIME date = {};      // UTC
  std::wstring subject;
  std::string messageId;     // with the angle brackets
  std::wstring threadTopic;  // empty: no Thread-Topic header
  Importance importance = Importance::Normal;
  std::string messageClass;  // UTF-8, IPM.Note; empty: no class header
  std::wstring displayName;  // PR_DISPLAY_NAME (a report's name); empty: no header
  std::wstring body;
  std::vector<MimeAttachment> attachments;
};

// Octets of base64 with 76-character lines, each ended by CRLF, for n bytes.
uint64_t Base64EncodedSize(uint64_t n) noexcept;

// A new Message-ID, "<32 hex digits@domain>", from the system's random source.
[[nodiscard]] Status NewMessageId(const std::string& domain, std::string* messageId) noexcept;

// The Content-Disposition header of an attachment named fileName: RFC 2231
// filename* (continued as filename*0*, filename*1*, ... when long), folded
// into lines of at most 78 octets.
[[nodiscard]] Status AttachmentDisposition(const std::wstring& fileName, std::string* header) noexcept;

class MimeMessage final : public ByteSource {
 public:
  // Lays the message out. The attachments' sources must stay alive and
  // unread until the message has been read; InvalidArgument for a missing
  // source or a non-ASCII address.
  [[nodiscard]] Status Prepare(const MimeMessageFields& fields) noexcept;
  uint64_t Size() const noexcept override { return size_; }
  // SourceFailed when an attachment delivers fewer or more bytes than its
  // Size announced.
  [[nodiscard]] Status Read(void* buffer, size_t capacity, size_t* received) noexcept override;

 private:
  struct Part {
    std::string text;               // headers and boundaries, or a body already encoded
    ByteSource* source = nullptr;   // base64 of this source follows text
  };
  Status Refill();

  std::vector<Part> parts_;
  uint64_t size_ = 0;
  size_t part_ = 0;
  size_t textPosition_ = 0;
  uint64_t sourceLeft_ = 0;
  bool sourceStarted_ = false;
  std::string encoded_;  // base64 lines not yet handed out
  size_t encodedPosition_ = 0;
  std::vector<unsigned char> raw_;
};

}  // namespace kvimap
