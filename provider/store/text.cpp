#include "text.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace provider {

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;
      }
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool FromUtf8(const std::string& bytes, std::wstring& text) {
  text.clear();
  text.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    uint32_t c = static_cast<uint8_t>(bytes[i]);
    int extra = 0;
    uint32_t minimum = 0;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, c &= 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, c &= 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, c &= 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (extra > 0 && i + extra >= bytes.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      uint32_t b = static_cast<uint8_t>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      text += static_cast<wchar_t>(0xD800 + (c >> 10));
      text += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
      text += static_cast<wchar_t>(c);
    }
    i += 1 + extra;
  }
  return true;
}

std::string ToHex(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0xF];
  }
  return out;
}

bool FromHex(const std::string& hex, std::vector<uint8_t>& bytes) {
  if (hex.size() % 2) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  bytes.clear();
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = digit(hex[i]);
    int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

std::wstring UpperCase(const std::wstring& text) {
  std::wstring out = text;
  if (!out.empty()) CharUpperBuffW(&out[0], static_cast<DWORD>(out.size()));
  return out;
}

int CompareIgnoreCase(const std::wstring& a, const std::wstring& b) {
  int r = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE);
  return r - CSTR_EQUAL;
}

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b) { return CompareIgnoreCase(a, b) == 0; }

// UTF-8 with "\\", "\n", "\r" and "\t" escaped, and lone surrogates (which
// UTF-8 cannot carry) as "\uXXXX", so every display name survives exactly.
std::string EscapeLine(const std::wstring& text) {
  std::string out;
  size_t runStart = 0;
  auto flush = [&](size_t end) {
    for (char c : ToUtf8(text.substr(runStart, end - runStart))) {
      switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
      }
    }
  };
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    bool high = c >= 0xD800 && c <= 0xDBFF;
    bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (!high && !low) continue;
    flush(i);
    char escape[8];
    snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
    out += escape;
    runStart = i + 1;
  }
  flush(text.size());
  return out;
}

bool UnescapeLine(const std::string& text, std::wstring& out) {
  out.clear();
  std::string utf8;
  auto flush = [&]() {
    std::wstring run;
    if (!FromUtf8(utf8, run)) return false;
    out += run;
    utf8.clear();
    return true;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      utf8 += text[i];
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case '\\': utf8 += '\\'; break;
      case 'n': utf8 += '\n'; break;
      case 'r': utf8 += '\r'; break;
      case 't': utf8 += '\t'; break;
      case 'u': {
        if (i + 4 >= text.size()) return false;
        std::string digits = text.substr(i + 1, 4);
        for (char d : digits)
          if (!isxdigit(static_cast<unsigned char>(d))) return false;
        unsigned long unit = strtoul(digits.c_str(), nullptr, 16);
        if (!flush()) return false;
        out += static_cast<wchar_t>(unit);
        i += 4;
        break;
      }
      default: return false;
    }
  }
  return flush();
}

bool UnescapeLine(const char* text, size_t length, std::wstring& out) {
  bool plain = true;
  for (size_t i = 0; i < length && plain; ++i) plain = text[i] != '\\' && static_cast<unsigned char>(text[i]) < 0x80;
  if (!plain) return UnescapeLine(std::string(text, length), out);
  out.assign(text, text + length);
  return true;
}

}  // namespace provider
