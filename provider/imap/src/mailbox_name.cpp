#include <kvimap/mailbox_name.h>

#include <windows.h>

#include <climits>

namespace kvimap {
namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int Sextet(char c) noexcept {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == ',') return 63;
  return -1;
}

bool Printable(unsigned value) noexcept { return value >= 0x20 && value <= 0x7e; }
bool HighSurrogate(unsigned u) noexcept { return u >= 0xd800 && u <= 0xdbff; }
bool LowSurrogate(unsigned u) noexcept { return u >= 0xdc00 && u <= 0xdfff; }

// Surrogates must come in pairs, high then low.
bool WellFormed(const std::wstring& text) noexcept {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned u = text[i];
    if (HighSurrogate(u)) {
      if (i + 1 >= text.size() || !LowSurrogate(text[i + 1])) return false;
      ++i;
    } else if (LowSurrogate(u)) {
      return false;
    }
  }
  return true;
}

}  // namespace

Status EncodeMailboxName(const std::wstring& name, std::string* encoded) noexcept {
  if (!WellFormed(name)) return Failure(Result::InvalidName, "folder name with a broken surrogate pair");
  try {
    std::string out;
    bool inRun = false;
    unsigned bits = 0;
    int bitCount = 0;
    auto closeRun = [&] {
      if (bitCount > 0) out += kAlphabet[(bits << (6 - bitCount)) & 0x3f];
      out += '-';
      bits = 0;
      bitCount = 0;
      inRun = false;
    };
    for (wchar_t ch : name) {
      unsigned u = static_cast<unsigned>(ch);
      if (Printable(u)) {
        if (inRun) closeRun();
        out += static_cast<char>(u);
        if (u == '&') out += '-';
        continue;
      }
      if (!inRun) {
        out += '&';
        inRun = true;
      }
      bits = (bits << 16) | u;
      bitCount += 16;
      while (bitCount >= 6) {
        bitCount -= 6;
        out += kAlphabet[(bits >> bitCount) & 0x3f];
      }
      bits &= (1u << bitCount) - 1;
    }
    if (inRun) closeRun();
    *encoded = std::move(out);
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status DecodeMailboxName(const std::string& encoded, std::wstring* name) noexcept {
  try {
    std::wstring out;
    for (size_t i = 0; i < encoded.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(encoded[i]);
      if (!Printable(c)) return Failure(Result::InvalidName, "folder name with 8-bit or control characters");
      if (c != '&') {
        out += static_cast<wchar_t>(c);
        continue;
      }
      if (i + 1 < encoded.size() && encoded[i + 1] == '-') {
        out += L'&';
        ++i;
        continue;
      }
      unsigned bits = 0;
      int bitCount = 0;
      size_t start = out.size();
      for (++i;; ++i) {
        if (i >= encoded.size()) return Failure(Result::InvalidName, "folder name with an open &... run");
        if (encoded[i] == '-') break;
        int sextet = Sextet(encoded[i]);
        if (sextet < 0) return Failure(Result::InvalidName, "folder name with bad modified base64");
        bits = (bits << 6) | static_cast<unsigned>(sextet);
        bitCount += 6;
        if (bitCount >= 16) {
          bitCount -= 16;
          unsigned unit = (bits >> bitCount) & 0xffff;
          if (Printable(unit)) return Failure(Result::InvalidName, "folder name encodes a printable character");
          out += static_cast<wchar_t>(unit);
          bits &= (1u << bitCount) - 1;
        }
      }
      if (bitCount >= 6 || bits != 0 || out.size() == start)
        return Failure(Result::InvalidName, "folder name with leftover bits in a &... run");
    }
    if (!WellFormed(out)) return Failure(Result::InvalidName, "folder name with a broken surrogate pair");
    *name = std::move(out);
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status JoinMailboxName(const std::wstring& parent, const std::wstring& child, wchar_t separator,
                       std::wstring* joined) noexcept {
  if (child.empty()) return Failure(Result::InvalidName, "empty folder name");
  if (separator != 0 && child.find(separator) != std::wstring::npos)
    return Failure(Result::InvalidName, "folder name holds the server's hierarchy separator");
  try {
    std::wstring out = parent;
    if (!out.empty() && separator != 0 && out.back() != separator) out += separator;
    out += child;
    *joined = std::move(out);
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status Utf16ToUtf8(const std::wstring& text, std::string* utf8) noexcept {
  try {
    utf8->clear();
    if (text.empty()) return Status();
    if (text.size() > INT_MAX / 4) return Status(Result::InvalidArgument);
    int size = static_cast<int>(text.size());
    int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return Failure(Result::InvalidArgument, "text with a broken surrogate pair", GetLastError());
    utf8->resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, &(*utf8)[0], n, nullptr, nullptr);
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status Utf8ToUtf16(const std::string& utf8, std::wstring* text) noexcept {
  try {
    text->clear();
    if (utf8.empty()) return Status();
    if (utf8.size() > INT_MAX / 2) return Status(Result::InvalidArgument);
    int size = static_cast<int>(utf8.size());
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (n <= 0) return Failure(Result::InvalidArgument, "text that is not UTF-8", GetLastError());
    text->resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &(*text)[0], n);
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

}  // namespace kvimap
