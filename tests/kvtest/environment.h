// What the tests of the module, the host and the provider share about their
// surroundings: strings as a message shows them, reproducible bytes, the
// user's language for one scope, and a folder of files made for one test.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include <zqlocale/zqlocale.h>

namespace kvtest {

using Bytes = std::vector<BYTE>;

// A string for "expected X, got Y"; null shows as <null>.
inline std::wstring Text(const wchar_t* text) { return text ? text : L"<null>"; }
inline std::string Text(const char* text) { return text ? text : "<null>"; }
// Text in a code page (the ANSI one by default), as a narrow host holds it.
inline std::string InCodePage(const std::wstring& text, UINT codePage = CP_ACP) {
  const int size = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(codePage, 0, text.c_str(), -1, &narrow[0], size, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

// Bytes whose runs do not repeat soon; seed tells two files apart.
inline Bytes Pattern(size_t size, unsigned seed = 0) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>((i * 31 + seed) ^ (i >> 9));
  return bytes;
}

// Sets an environment variable (null: removes it) and restores it afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t old[1024];
    const DWORD length = GetEnvironmentVariableW(name, old, 1024);
    hadValue_ = length > 0 && length < 1024;
    if (hadValue_) old_ = old;
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), hadValue_ ? old_.c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::wstring name_;
  bool hadValue_ = false;
  std::wstring old_;
};

// KV_USER_LANGUAGE for one scope: the language zqlocale takes for the user's.
class ScopedUserLanguage : public ScopedVariable {
 public:
  explicit ScopedUserLanguage(const wchar_t* value) : ScopedVariable(ZQLOCALE_USER_LANGUAGE_VARIABLE, value) {}
};

// Writes bytes to path, replacing any file there; whether all were written.
inline bool WriteBytes(const std::wstring& path, const Bytes& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                        written == bytes.size());
  CloseHandle(file);
  return whole;
}
// The bytes of a file (others may have it open for writing); none when it cannot be read.
inline Bytes ReadBytes(const std::wstring& path) {
  Bytes bytes;
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  BYTE piece[65536];
  DWORD read = 0;
  while (ReadFile(file, piece, sizeof piece, &read, nullptr) && read > 0) bytes.insert(bytes.end(), piece, piece + read);
  CloseHandle(file);
  return bytes;
}

// Removes a folder with everything below it.
inline void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found) != FALSE) {
    const std::wstring child = path + L"\\" + found.cFileName;
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(child);
    } else {
      DeleteFileW(child.c_str());
    }
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryW(path.c_str());
}

// A fresh folder under the temporary folder, removed with everything in it.
class TempDirectory {
 public:
  TempDirectory() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static LONG serial = 0;
    path_ = std::wstring(base) + L"kvtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&serial));
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempDirectory() { RemoveTree(path_); }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }
  // Writes a file of the folder; its path.
  std::wstring Write(const std::wstring& name, const Bytes& bytes) const {
    WriteBytes(File(name), bytes);
    return File(name);
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

}  // namespace kvtest
