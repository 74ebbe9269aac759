#include <kvimap/mime_message.h>

#include <kvimap/mailbox_name.h>

#include "mime_text.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kvimap {
namespace {

// Every part is base64, whose alphabet has no "_" and whose lines never start
// with "-", so a fixed boundary cannot occur inside the content.
const char kBoundary[] = "=_kv2fold_mixed";
const size_t kLineBytes = 57;                 // raw bytes per 76-character line
const size_t kChunkBytes = kLineBytes * 1024;  // raw bytes read from a source at a time

bool IsAsciiAddress(const std::string& address) {
  if (address.empty() || address.find('@') == std::string::npos) return false;
  for (char c : address) {
    if (c <= ' ' || c > '~' || c == '<' || c == '>' || c == '"' || c == ',' || c == ';') return false;
  }
  return true;
}

bool IsMessageId(const std::string& id) {
  if (id.size() < 3 || id.front() != '<' || id.back() != '>') return false;
  return std::all_of(id.begin(), id.end(), [](char c) { return c > ' ' && c <= '~'; });
}

bool IsToken(const std::string& text) {  // a MIME type or class name: printable, no specials we write
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c > ' ' && c <= '~' && c != '"' && c != ';' && c != '\\';
  });
}

Status Utf8(const std::wstring& text, std::string* utf8) {
  Status status = Utf16ToUtf8(text, utf8);
  if (!status.ok()) status.serverText = "text with a broken surrogate pair";
  return status;
}

std::string DateHeader(SYSTEMTIME date) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // The round trip fills in the day of the week.
  FILETIME asFileTime;
  if (!SystemTimeToFileTime(&date, &asFileTime) || !FileTimeToSystemTime(&asFileTime, &date)) return std::string();
  char text[64];
  std::snprintf(text, sizeof(text), "%s, %02u %s %04u %02u:%02u:%02u +0000", kDays[date.wDayOfWeek % 7],
                static_cast<unsigned>(date.wDay), kMonths[(date.wMonth + 11) % 12], static_cast<unsigned>(date.wYear),
                static_cast<unsigned>(date.wHour), static_cast<unsigned>(date.wMinute),
                static_cast<unsigned>(date.wSecond));
  return text;
}

const char* ImportanceText(Importance importance) {
  switch (importance) {
    case Importance::Low: return "low";
    case Importance::High: return "high";
    case Importance::Normal: break;
  }
  return "normal";
}

}  // namespace

uint64_t Base64EncodedSize(uint64_t n) noexcept {
  uint64_t characters = (n + 2) / 3 * 4;
  uint64_t lines = (characters + 75) / 76;
  return characters + 2 * lines;
}

Status NewMessageId(const std::string& domain, std::string* messageId) noexcept {
  unsigned char random[16];
  NTSTATUS result = BCryptGenRandom(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (result < 0) return Failure(Result::InvalidArgument, "no random numbers", result);
  try {
    static const char kDigits[] = "0123456789abcdef";
    std::string id = "<";
    for (unsigned char b : random) {
      id += kDigits[b >> 4];
      id += kDigits[b & 15];
    }
    id += "@" + domain + ">";
    if (!IsMessageId(id)) return Failure(Result::InvalidArgument, "the domain is not printable ASCII");
    *messageId = std::move(id);
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status AttachmentDisposition(const std::wstring& fileName, std::string* header) noexcept {
  try {
    std::string utf8;
    Status status = Utf8(fileName, &utf8);
    if (!status.ok()) return status;
    if (utf8.empty()) {
      *header = "Content-Disposition: attachment\r\n";
      return Status();
    }
    std::string value = "utf-8''" + PercentEncode(utf8);
    std::string out = "Content-Disposition: attachment;\r\n";
    const size_t kLine = 78;
    if (value.size() + std::strlen(" filename*=") <= kLine) {
      out += " filename*=" + value + "\r\n";
    } else {
      // RFC 2231 continuations, each line within 78 octets, never cutting %XX.
      size_t position = 0;
      for (unsigned index = 0; position < value.size(); ++index) {
        std::string name = " filename*" + std::to_string(index) + "*=";
        size_t room = kLine - name.size() - 1;
        size_t end = std::min(value.size(), position + room);
        if (end < value.size()) {
          if (value[end - 1] == '%') end -= 1;
          else if (end >= 2 && value[end - 2] == '%') end -= 2;
        }
        out += name + value.substr(position, end - position);
        position = end;
        out += position < value.size() ? ";\r\n" : "\r\n";
      }
    }
    *header = std::move(out);
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status MimeMessage::Prepare(const MimeMessageFields& fields) noexcept {
  parts_.clear();
  size_ = 0;
  part_ = 0;
  textPosition_ = 0;
  sourceStarted_ = false;
  encoded_.clear();
  encodedPosition_ = 0;
  if (!IsAsciiAddress(fields.fromAddress)) return Failure(Result::InvalidArgument, "the sender's address is not ASCII");
  if (!IsMessageId(fields.messageId)) return Failure(Result::InvalidArgument, "the Message-ID is not <...>");
  // A class beyond ASCII (a file extension in it) goes in RFC 2047 words.
  const bool plainClass = fields.messageClass.empty() || IsToken(fields.messageClass);
  if (!plainClass && std::none_of(fields.messageClass.begin(), fields.messageClass.end(),
                                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
    return Failure(Result::InvalidArgument, "the message class is not printable ASCII");
  try {
    std::string date = DateHeader(fields.date);
    if (date.empty()) return Failure(Result::InvalidArgument, "the date is not a valid time");
    std::string text, utf8;

    std::string headers = "From: ";
    if (!fields.fromName.empty()) {
      Status status = Utf8(fields.fromName, &utf8);
      if (!status.ok()) return status;
      headers += PhraseText(utf8, 6) + " ";
    }
    headers += "<" + fields.fromAddress + ">\r\n";
    headers += "Date: " + date + "\r\n";
    Status status = Utf8(fields.subject, &utf8);
    if (!status.ok()) return status;
    headers += "Subject: " + UnstructuredText(utf8, 9) + "\r\n";
    headers += "Message-ID: " + fields.messageId + "\r\n";
    if (!fields.threadTopic.empty()) {
      status = Utf8(fields.threadTopic, &utf8);
      if (!status.ok()) return status;
      headers += "Thread-Topic: " + UnstructuredText(utf8, 14) + "\r\n";
    }
    headers += std::string("Importance: ") + ImportanceText(fields.importance) + "\r\n";
    if (!fields.messageClass.empty())
      headers += "X-MAPI-Message-Class: " +
                 (plainClass ? fields.messageClass : UnstructuredText(fields.messageClass, 22)) + "\r\n";
    if (!fields.displayName.empty()) {
      status = Utf8(fields.displayName, &utf8);
      if (!status.ok()) return status;
      headers += "X-MAPI-Display-Name: " + UnstructuredText(utf8, 21) + "\r\n";
    }
    headers += "MIME-Version: 1.0\r\n";
    headers += std::string("Content-Type: multipart/mixed; boundary=\"") + kBoundary + "\"\r\n\r\n";

    Part first;
    first.text = std::move(headers);
    first.text += std::string("--") + kBoundary + "\r\n";
    first.text += "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    status = Utf8(fields.body, &utf8);
    if (!status.ok()) return status;
    AppendBase64Lines(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(), &first.text);
    parts_.push_back(std::move(first));

    for (const MimeAttachment& attachment : fields.attachments) {
      if (attachment.content == nullptr) return Failure(Result::InvalidArgument, "an attachment without content");
      if (!IsToken(attachment.contentType) || attachment.contentType.find('/') == std::string::npos)
        return Failure(Result::InvalidArgument, "an attachment's content type is not type/subtype");
      Part part;
      part.text = std::string("\r\n--") + kBoundary + "\r\n";
      part.text += "Content-Type: " + attachment.contentType;
      status = Utf8(attachment.fileName, &utf8);
      if (!status.ok()) return status;
      if (!utf8.empty()) part.text += ";\r\n name=" + QuotedParameter(utf8, 6);
      part.text += "\r\nContent-Transfer-Encoding: base64\r\n";
      std::string disposition;
      status = AttachmentDisposition(attachment.fileName, &disposition);
      if (!status.ok()) return status;
      part.text += disposition + "\r\n";
      part.source = attachment.content;
      size_ += Base64EncodedSize(attachment.content->Size());
      parts_.push_back(std::move(part));
    }
    Part last;
    last.text = std::string("\r\n--") + kBoundary + "--\r\n";
    parts_.push_back(std::move(last));
    for (const Part& part : parts_) size_ += part.text.size();
    return Status();
  } catch (...) {
    parts_.clear();
    return Status(Result::OutOfMemory);
  }
}

// The next piece of the current source as base64 lines. Pieces are whole
// lines (57 raw bytes each) except the source's last, so the lines come out
// as Base64EncodedSize counted them.
Status MimeMessage::Refill() {
  size_t want = static_cast<size_t>(std::min<uint64_t>(sourceLeft_, kChunkBytes));
  raw_.resize(want);
  size_t have = 0;
  while (have < want) {
    size_t got = 0;
    Status status = parts_[part_].source->Read(raw_.data() + have, want - have, &got);
    if (!status.ok()) return status;
    if (got == 0) return Failure(Result::SourceFailed, "an attachment ended before its announced size");
    have += got;
  }
  sourceLeft_ -= want;
  encoded_.clear();
  encodedPosition_ = 0;
  AppendBase64Lines(raw_.data(), want, &encoded_);
  return Status();
}

Status MimeMessage::Read(void* buffer, size_t capacity, size_t* received) noexcept {
  *received = 0;
  char* out = static_cast<char*>(buffer);
  try {
    while (*received < capacity && part_ < parts_.size()) {
      Part& part = parts_[part_];
      size_t room = capacity - *received;
      if (textPosition_ < part.text.size()) {
        size_t n = std::min(room, part.text.size() - textPosition_);
        std::memcpy(out + *received, part.text.data() + textPosition_, n);
        textPosition_ += n;
        *received += n;
        continue;
      }
      if (part.source != nullptr) {
        if (!sourceStarted_) {
          sourceStarted_ = true;
          sourceLeft_ = part.source->Size();
        }
        if (encodedPosition_ < encoded_.size()) {
          size_t n = std::min(room, encoded_.size() - encodedPosition_);
          std::memcpy(out + *received, encoded_.data() + encodedPosition_, n);
          encodedPosition_ += n;
          *received += n;
          continue;
        }
        if (sourceLeft_ > 0) {
          Status status = Refill();
          if (!status.ok()) return status;
          continue;
        }
        char extra;
        size_t got = 0;
        Status status = part.source->Read(&extra, 1, &got);
        if (!status.ok()) return status;
        if (got != 0) return Failure(Result::SourceFailed, "an attachment grew after its size was taken");
      }
      ++part_;
      textPosition_ = 0;
      sourceStarted_ = false;
      encoded_.clear();
      encodedPosition_ = 0;
    }
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

}  // namespace kvimap
