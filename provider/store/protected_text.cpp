#include "protected_text.h"

#include <windows.h>

#include <wincrypt.h>

#include <vector>

namespace provider {
namespace {

// What CryptProtectData and CryptUnprotectData hand out, freed with LocalFree.
struct LocalBlob {
  DATA_BLOB blob = {0, nullptr};
  ~LocalBlob() {
    if (blob.pbData) {
      SecureZeroMemory(blob.pbData, blob.cbData);
      LocalFree(blob.pbData);
    }
  }
};

const wchar_t kDescription[] = L"KV2FOLD server store password";

}  // namespace

bool ProtectText(const std::wstring& text, std::string& protectedText) {
  DATA_BLOB plain = {static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                     reinterpret_cast<BYTE*>(const_cast<wchar_t*>(text.data()))};
  LocalBlob sealed;
  if (!CryptProtectData(&plain, kDescription, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &sealed.blob))
    return false;
  DWORD length = 0;
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  if (!CryptBinaryToStringA(sealed.blob.pbData, sealed.blob.cbData, flags, nullptr, &length)) return false;
  std::string encoded(length, '\0');
  if (!CryptBinaryToStringA(sealed.blob.pbData, sealed.blob.cbData, flags, &encoded[0], &length)) return false;
  encoded.resize(length);
  protectedText = std::move(encoded);
  return true;
}

bool UnprotectText(const std::string& protectedText, std::wstring& text) {
  DWORD size = 0;
  if (protectedText.empty() ||
      !CryptStringToBinaryA(protectedText.c_str(), static_cast<DWORD>(protectedText.size()), CRYPT_STRING_BASE64,
                            nullptr, &size, nullptr, nullptr))
    return false;
  std::vector<BYTE> bytes(size);
  if (!CryptStringToBinaryA(protectedText.c_str(), static_cast<DWORD>(protectedText.size()), CRYPT_STRING_BASE64,
                            bytes.data(), &size, nullptr, nullptr))
    return false;
  DATA_BLOB sealed = {size, bytes.data()};
  LocalBlob plain;
  if (!CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain.blob))
    return false;
  if (plain.blob.cbData % sizeof(wchar_t) != 0) return false;
  text.assign(reinterpret_cast<const wchar_t*>(plain.blob.pbData), plain.blob.cbData / sizeof(wchar_t));
  return true;
}

}  // namespace provider
