// Folder names in modified UTF-7, the exact size of generated MIME, and RFC
// 2231 file names.
#include <kvimap/mailbox_name.h>
#include <kvimap/mime_message.h>

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include "imap_test_support.h"

namespace {

using kvimap::Result;
using kvimap_test::PatternSource;

TEST(MailboxName, EncodesAndDecodesModifiedUtf7) {
  const struct {
    const wchar_t* name;
    const char* wire;
  } cases[] = {
      {L"INBOX", "INBOX"},
      {L"Berichte \u00dc", "Berichte &ANw-"},
      {L"&", "&-"},
      {L"A&B &\u00dc", "A&-B &-&ANw-"},
      {L"~peter/mail/\u53f0\u5317/\u65e5\u672c\u8a9e", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
      {L"\xd83d\xde00 smile", "&2D3eAA- smile"},  // U+1F600, a surrogate pair
      {L"", ""},
  };
  for (const auto& c : cases) {
    std::string wire;
    ASSERT_TRUE(kvimap::EncodeMailboxName(c.name, &wire).ok()) << c.wire;
    EXPECT_EQ(c.wire, wire);
    std::wstring name = L"sentinel";
    ASSERT_TRUE(kvimap::DecodeMailboxName(c.wire, &name).ok()) << c.wire;
    EXPECT_EQ(std::wstring(c.name), name) << c.wire;
  }
  for (const char* bad : {"&ANw", "&AGE-", "&2D0-", "&ANw.-", "Bericht\xc3\x9c", "&AN-"}) {
    std::wstring name;
    EXPECT_EQ(Result::InvalidName, kvimap::DecodeMailboxName(bad, &name).result) << bad;
  }
  std::string wire;
  EXPECT_EQ(Result::InvalidName, kvimap::EncodeMailboxName(std::wstring(1, L'\xd800'), &wire).result);
}

TEST(MailboxName, RefusesAPartHoldingTheSeparator) {
  const struct {
    const wchar_t* parent;
    const wchar_t* child;
    wchar_t separator;
    Result expected;
    const wchar_t* joined;
  } cases[] = {
      {L"Team/", L"Berichte \u00dc", L'/', Result::Ok, L"Team/Berichte \u00dc"},
      {L"INBOX", L"Q1", L'.', Result::Ok, L"INBOX.Q1"},
      {L"", L"Top", L'/', Result::Ok, L"Top"},
      {L"INBOX.", L"Q1.2025", L'.', Result::InvalidName, L""},
      {L"Team/", L"a/b", L'/', Result::InvalidName, L""},
      {L"Team/", L"", L'/', Result::InvalidName, L""},
  };
  for (const auto& c : cases) {
    std::wstring joined;
    EXPECT_EQ(c.expected, kvimap::JoinMailboxName(c.parent, c.child, c.separator, &joined).result);
    EXPECT_EQ(std::wstring(c.joined), joined);
  }
}

TEST(Base64EncodedSize, CountsLinesAndLineEnds) {
  const struct {
    uint64_t n, octets;
  } cases[] = {{0, 0}, {1, 6}, {2, 6}, {3, 6}, {56, 78}, {57, 78}, {58, 84}, {2147483647, 2938661836}};
  for (const auto& c : cases) EXPECT_EQ(c.octets, kvimap::Base64EncodedSize(c.n)) << c.n;
}

kvimap::MimeMessageFields Fields(kvimap::ByteSource* attachment) {
  kvimap::MimeMessageFields fields;
  fields.fromName = L"Ren\u00e9 M\u00fcller";
  fields.fromAddress = "rene@example.org";
  GetSystemTime(&fields.date);
  fields.subject = L"Quartalsbericht \u00dc\u00e4 \u53f0\u5317 with a subject long enough to need several encoded words";
  fields.messageId = "<size-test@kv2fold>";
  fields.messageClass = "IPM.Note";
  fields.body = L"Hallo,\r\nanbei der Bericht.\r\n";
  fields.attachments.push_back({L"Bericht \u00dc.bin", "application/octet-stream", attachment});
  return fields;
}

// What Read delivers, in odd pieces.
std::string ReadAll(kvimap::MimeMessage& message, kvimap::Status* status) {
  std::string out;
  char buffer[1000];
  size_t got = 0;
  do {
    *status = message.Read(buffer, sizeof(buffer) - 7, &got);
    out.append(buffer, got);
  } while (status->ok() && got != 0);
  return out;
}

TEST(MimeMessage, WritesExactlyTheSizeItAnnouncedAndTheBytesItRead) {
  for (uint64_t size : {0, 1, 2, 3, 56, 57, 58, 57 * 1024 + 1, 200000}) {
    PatternSource source(size), reference(size);
    kvimap::MimeMessage message;
    ASSERT_TRUE(message.Prepare(Fields(&source)).ok());
    kvimap::Status status;
    std::string text = ReadAll(message, &status);
    ASSERT_TRUE(status.ok()) << size;
    EXPECT_EQ(message.Size(), text.size()) << "attachment of " << size << " bytes";
    for (size_t start = 0, end; start < text.size(); start = end + 2) {
      end = text.find("\r\n", start);
      ASSERT_NE(std::string::npos, end) << "the message ends with CRLF";
      ASSERT_LE(end - start, 78u) << text.substr(start, end - start);
    }
    // The attachment's base64, decoded by crypt32, gives the source's bytes.
    size_t begin = text.find("\r\n\r\n", text.find("filename*")) + 4;
    std::string base64 = text.substr(begin, text.find("\r\n--=_kv2fold_mixed", begin) - begin);
    EXPECT_EQ(kvimap::Base64EncodedSize(size), base64.size()) << size;
    std::string expected(static_cast<size_t>(size), '\0'), decoded(static_cast<size_t>(size) + 3, '\0');
    size_t got = 0;
    ASSERT_TRUE(reference.Read(&expected[0], expected.size(), &got).ok());
    DWORD decodedSize = static_cast<DWORD>(decoded.size());
    if (size != 0) {
      ASSERT_TRUE(CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64,
                                       reinterpret_cast<BYTE*>(&decoded[0]), &decodedSize, nullptr, nullptr));
      decoded.resize(decodedSize);
      EXPECT_TRUE(expected == decoded) << size;
    }
  }
}

TEST(MimeMessage, ComputesTheSizeOfA2GiBAttachmentWithoutReadingIt) {
  PatternSource huge(2147483647), empty(0);
  kvimap::MimeMessage withHuge, withEmpty;
  ASSERT_TRUE(withHuge.Prepare(Fields(&huge)).ok());
  ASSERT_TRUE(withEmpty.Prepare(Fields(&empty)).ok());
  EXPECT_EQ(2938661836u, withHuge.Size() - withEmpty.Size());
}

TEST(MimeMessage, RefusesASourceThatEndsEarly) {
  class Short final : public kvimap::ByteSource {
   public:
    uint64_t Size() const noexcept override { return 1000; }
    kvimap::Status Read(void* buffer, size_t capacity, size_t* received) noexcept override {
      return inner.Read(buffer, capacity, received);
    }
    PatternSource inner{999};
  } source;
  kvimap::MimeMessage message;
  ASSERT_TRUE(message.Prepare(Fields(&source)).ok());
  kvimap::Status status;
  ReadAll(message, &status);
  EXPECT_EQ(Result::SourceFailed, status.result);
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

TEST(AttachmentDisposition, ContinuesLongNamesInShortLines) {
  std::wstring longName;
  for (int i = 0; i < 12; ++i) longName += L"Quartalsbericht \u00dc\u53f0 ";
  longName += L".pdf";
  const struct {
    std::wstring name;
    size_t parameters;
  } cases[] = {{L"\u00dc.txt", 1}, {longName, 6}};
  for (const auto& c : cases) {
    std::string header;
    ASSERT_TRUE(kvimap::AttachmentDisposition(c.name, &header).ok());
    std::string joined;
    size_t parameters = 0, start = header.find("\r\n") + 2;
    EXPECT_EQ("Content-Disposition: attachment;", header.substr(0, start - 2));
    for (size_t end; start < header.size(); start = end + 2, ++parameters) {
      end = header.find("\r\n", start);
      std::string line = header.substr(start, end - start);
      EXPECT_LE(line.size(), 78u) << line;
      std::string name = parameters == 0 && c.parameters == 1 ? " filename*=" : " filename*" + std::to_string(parameters) + "*=";
      ASSERT_EQ(name, line.substr(0, name.size())) << line;
      if (!line.empty() && line.back() == ';') line.pop_back();
      joined += line.substr(name.size());
    }
    EXPECT_LE(c.parameters, parameters);
    std::string utf8;
    ASSERT_TRUE(kvimap::Utf16ToUtf8(c.name, &utf8).ok());
    EXPECT_EQ("utf-8''" + utf8, PercentDecode(joined));
  }
}

}  // namespace
