#include "mime_text.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace kvimap {
namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const size_t kWordBytes = 30;  // UTF-8 octets per encoded word: 40 base64 characters, 52 in all

bool PrintableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Writes the base64 of size bytes at out; answers where it ended. Whole
// groups first, without a test per character: attachments of hundreds of
// MiB go through here.
char* EncodeBase64(const unsigned char* data, size_t size, char* out) {
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const unsigned value = (static_cast<unsigned>(data[i]) << 16) | (static_cast<unsigned>(data[i + 1]) << 8) | data[i + 2];
    out[0] = kBase64[value >> 18];
    out[1] = kBase64[(value >> 12) & 63];
    out[2] = kBase64[(value >> 6) & 63];
    out[3] = kBase64[value & 63];
    out += 4;
  }
  if (i < size) {
    unsigned value = static_cast<unsigned>(data[i]) << 16;
    if (i + 1 < size) value |= static_cast<unsigned>(data[i + 1]) << 8;
    out[0] = kBase64[value >> 18];
    out[1] = kBase64[(value >> 12) & 63];
    out[2] = i + 1 < size ? kBase64[(value >> 6) & 63] : '=';
    out[3] = '=';
    out += 4;
  }
  return out;
}

void AppendBase64(const unsigned char* data, size_t size, std::string* out) {
  const size_t start = out->size();
  out->resize(start + (size + 2) / 3 * 4);
  EncodeBase64(data, size, &(*out)[start]);
}

// Encoded words of whole UTF-8 characters, one per line after the first.
std::string EncodedWords(const std::string& utf8) {
  std::string out;
  size_t position = 0;
  while (position < utf8.size()) {
    size_t end = std::min(utf8.size(), position + kWordBytes);
    while (end < utf8.size() && end > position && (static_cast<unsigned char>(utf8[end]) & 0xc0) == 0x80) --end;
    if (!out.empty()) out += "\r\n ";
    out += "=?utf-8?B?";
    AppendBase64(reinterpret_cast<const unsigned char*>(utf8.data()) + position, end - position, &out);
    out += "?=";
    position = end;
  }
  return out;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

int Base64Value(char c) {
  const char* p = std::strchr(kBase64, c);
  return c != 0 && p != nullptr ? static_cast<int>(p - kBase64) : -1;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One encoded word's text in octets; false when it is not one we read.
bool DecodeWord(const std::string& word, std::string* charset, std::string* octets) {
  // =?charset?E?text?=
  if (word.size() < 8 || word.compare(0, 2, "=?") != 0 || word.compare(word.size() - 2, 2, "?=") != 0) return false;
  size_t q1 = word.find('?', 2);
  if (q1 == std::string::npos || q1 + 2 >= word.size() || word[q1 + 2] != '?') return false;
  *charset = word.substr(2, q1 - 2);
  size_t star = charset->find('*');  // RFC 2231 language suffix
  if (star != std::string::npos) charset->resize(star);
  char encoding = Lower(word[q1 + 1]);
  std::string text = word.substr(q1 + 3, word.size() - q1 - 5);
  octets->clear();
  if (encoding == 'b') {
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
      if (c == '=') break;
      int v = Base64Value(c);
      if (v < 0) return false;
      bits = (bits << 6) | static_cast<unsigned>(v);
      count += 6;
      if (count >= 8) {
        count -= 8;
        *octets += static_cast<char>((bits >> count) & 0xff);
      }
    }
    return true;
  }
  if (encoding == 'q') {
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '_') {
        *octets += ' ';
      } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
        *octets += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        i += 2;
      } else {
        *octets += text[i];
      }
    }
    return true;
  }
  return false;
}

std::wstring Widen(const std::string& octets, UINT codePage) {
  if (octets.empty()) return std::wstring();
  int size = static_cast<int>(octets.size());
  DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  int n = MultiByteToWideChar(codePage, flags, octets.data(), size, nullptr, 0);
  if (n <= 0) {
    codePage = 28591;  // ISO-8859-1 maps every octet
    n = MultiByteToWideChar(codePage, 0, octets.data(), size, nullptr, 0);
    if (n <= 0) return std::wstring();
  }
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, octets.data(), size, &out[0], n);
  return out;
}

}  // namespace

void AppendBase64Lines(const unsigned char* data, size_t size, std::string* out) {
  const size_t start = out->size();
  out->resize(start + (size + 2) / 3 * 4 + (size + 56) / 57 * 2);
  char* end = out->empty() ? nullptr : &(*out)[start];
  for (size_t i = 0; i < size; i += 57) {
    end = EncodeBase64(data + i, std::min<size_t>(57, size - i), end);
    *end++ = '\r';
    *end++ = '\n';
  }
}

std::string PercentEncode(const std::string& utf8) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : utf8) {
    unsigned char u = static_cast<unsigned char>(c);
    bool attributeChar = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                         std::strchr("!#$&+-.^_`|~", c) != nullptr;
    if (attributeChar && u != 0) {
      out += c;
    } else {
      out += '%';
      out += kDigits[u >> 4];
      out += kDigits[u & 15];
    }
  }
  return out;
}

std::string UnstructuredText(const std::string& utf8, size_t used) {
  if (PrintableAscii(utf8) && utf8.find("=?") == std::string::npos && used + utf8.size() <= 998) return utf8;
  return EncodedWords(utf8);
}

std::string PhraseText(const std::string& utf8, size_t used) {
  if (PrintableAscii(utf8) && utf8.find("=?") == std::string::npos && used + utf8.size() <= 900) return Quoted(utf8);
  return EncodedWords(utf8);
}

std::string QuotedParameter(const std::string& utf8, size_t used) {
  if (PrintableAscii(utf8) && utf8.find("=?") == std::string::npos && used + utf8.size() <= 900) return Quoted(utf8);
  return "\"" + EncodedWords(utf8) + "\"";
}

std::string HeaderField(const std::string& block, const char* name) {
  size_t position = 0;
  while (position < block.size()) {
    size_t end = block.find("\r\n", position);
    if (end == std::string::npos) end = block.size();
    // A field goes on over the lines that start with white space.
    while (end + 2 < block.size() && (block[end + 2] == ' ' || block[end + 2] == '\t')) {
      end = block.find("\r\n", end + 2);
      if (end == std::string::npos) end = block.size();
    }
    std::string field = block.substr(position, end - position);
    position = end + 2;
    size_t colon = field.find(':');
    if (colon == std::string::npos || !SameText(field.substr(0, colon), name)) continue;
    std::string value;
    for (size_t i = colon + 1; i < field.size(); ++i) {
      if (field[i] == '\r' || field[i] == '\n') continue;
      value += field[i];
    }
    size_t first = value.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : value.substr(first);
  }
  return std::string();
}

std::wstring DecodeHeaderText(const std::string& value) {
  std::wstring out;
  std::string pendingSpace;
  bool lastWasEncoded = false;
  size_t position = 0;
  while (position < value.size()) {
    size_t end = value.find_first_of(" \t", position);
    if (end == std::string::npos) end = value.size();
    std::string token = value.substr(position, end - position);
    size_t spaceEnd = value.find_first_not_of(" \t", end);
    if (spaceEnd == std::string::npos) spaceEnd = value.size();
    std::string space = value.substr(end, spaceEnd - end);
    position = spaceEnd;

    std::string charset, octets;
    if (DecodeWord(token, &charset, &octets)) {
      // White space between two encoded words is not part of the text.
      if (!lastWasEncoded) out += Widen(pendingSpace, 28591);
      UINT codePage = SameText(charset, "utf-8") ? CP_UTF8 : 28591;
      out += Widen(octets, codePage);
      lastWasEncoded = true;
    } else {
      out += Widen(pendingSpace, 28591);
      out += Widen(token, CP_UTF8);
      lastWasEncoded = false;
    }
    pendingSpace = space;
  }
  return out;
}

}  // namespace kvimap
