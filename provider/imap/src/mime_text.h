// Header text for MIME both ways: RFC 2047 encoded words, RFC 2231 percent
// encoding, base64 lines; and reading header fields back.
#pragma once

#include <string>

namespace kvimap {

// Base64 of size bytes in lines of 76 characters, each ended by CRLF.
void AppendBase64Lines(const unsigned char* data, size_t size, std::string* out);

// RFC 2231 value octets: attribute characters as they are, others as %XX.
std::string PercentEncode(const std::string& utf8);

// Header values from UTF-8 text. used: the octets already on the header's
// first line. ASCII stays as it is where the rules allow; other text becomes
// "=?utf-8?B?...?=" words of whole characters, folded so lines stay within 78.
std::string UnstructuredText(const std::string& utf8, size_t used);
std::string PhraseText(const std::string& utf8, size_t used);      // a display name
std::string QuotedParameter(const std::string& utf8, size_t used);  // name="..."

// The unfolded value of the first field called name (case-insensitive) in a
// header block; empty when absent.
std::string HeaderField(const std::string& block, const char* name);
// Unstructured text with its RFC 2047 words (B or Q, UTF-8, US-ASCII or
// ISO-8859-1) decoded; other bytes taken as UTF-8, else as Latin-1.
std::wstring DecodeHeaderText(const std::string& value);

}  // namespace kvimap
