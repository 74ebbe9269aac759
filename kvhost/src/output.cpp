#include "output.h"

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
  return bytes;
}

void StandardOutput::Write(const std::wstring& text) {
  if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return;
  // A console shows wide text as it is; pipes and files get UTF-8 bytes.
  DWORD mode = 0;
  if (GetConsoleMode(handle_, &mode)) {
    DWORD written = 0;
    WriteConsoleW(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  std::string bytes = ToUtf8(text);
  DWORD written = 0;
  WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
