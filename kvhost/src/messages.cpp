#include "messages.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

Messages::Messages() : handle_(LocaleOpenResources(GetModuleHandleW(nullptr), 0, L"kvhost%L.%X", ZQLOCALE_MODULE_FALLBACK)) {}

Messages::~Messages() { LocaleCloseResources(handle_); }

std::wstring Messages::Text(UINT id) const {
  std::vector<wchar_t> buffer(4096);
  if (LocaleLoadString(handle_, LANG_USER_DEFAULT, id, buffer.data(), static_cast<int>(buffer.size() - 1)) == 0) {
    return L"#" + std::to_wstring(id);
  }
  return buffer.data();
}

std::wstring Messages::Format(UINT id, ...) const {
  std::wstring format = Text(id);
  std::vector<wchar_t> buffer(4096);
  va_list arguments;
  va_start(arguments, id);
  // The system's _vsnwprintf: %ls is a wide string here as everywhere.
  int written = _vsnwprintf(buffer.data(), buffer.size() - 1, format.c_str(), arguments);
  va_end(arguments);
  if (written < 0) written = static_cast<int>(buffer.size() - 1);
  buffer[static_cast<size_t>(written)] = L'\0';
  return buffer.data();
}
