// Text conversions used by the profiles file and the on-disk store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace provider {

// UTF-16 to UTF-8. Lone surrogates become U+FFFD.
std::string ToUtf8(const std::wstring& text);
// UTF-8 to UTF-16; false when the bytes are not valid UTF-8.
bool FromUtf8(const std::string& bytes, std::wstring& text);

// Lower-case hexadecimal of bytes, and back (false on a bad digit or odd length).
std::string ToHex(const uint8_t* data, size_t size);
bool FromHex(const std::string& hex, std::vector<uint8_t>& bytes);

// Upper-casing and case-insensitive ordinal comparison as Windows does them
// for file names.
std::wstring UpperCase(const std::wstring& text);
bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b);
int CompareIgnoreCase(const std::wstring& a, const std::wstring& b);

// One line of UTF-8 text: "\\", "\n", "\r" and "\t" escaped, and lone
// surrogates (which UTF-8 cannot carry) as "\uXXXX", so any text survives
// exactly. UnescapeLine is false for text EscapeLine cannot have made.
std::string EscapeLine(const std::wstring& text);
bool UnescapeLine(const std::string& text, std::wstring& out);
// The same over a piece of a longer text; plain ASCII (the common case in
// large files) is taken as it is.
bool UnescapeLine(const char* text, size_t length, std::wstring& out);

}  // namespace provider
