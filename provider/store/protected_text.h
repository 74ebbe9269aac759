// A secret kept in the profiles file: protected with CryptProtectData for the
// user who wrote it (only that Windows user on that machine can read it back)
// and written as base64 text.
#pragma once

#include <string>

namespace provider {

// False when the system cannot protect it.
bool ProtectText(const std::wstring& text, std::string& protectedText);
// False for text ProtectText did not make, or made for another user.
bool UnprotectText(const std::string& protectedText, std::wstring& text);

}  // namespace provider
