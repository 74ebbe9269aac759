// Helpers shared by the module's tests: a string as a message shows it, file
// contents that differ byte by byte, the user's language for one test, the
// bytes in use on the process heap (the module's heap), and removing a folder
// tree a test made.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include <zqlocale/zqlocale.h>

namespace kvtest {

// A string for "expected X, got Y"; null shows as <null>.
inline std::wstring Text(const wchar_t* text) { return text ? text : L"<null>"; }
inline std::string Text(const char* text) { return text ? text : "<null>"; }

// Bytes whose runs do not repeat soon; seed tells two files apart.
inline std::vector<BYTE> Pattern(size_t size, unsigned seed = 0) {
  std::vector<BYTE> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>((i * 31 + seed) ^ (i >> 9));
  return bytes;
}

// Sets KV_USER_LANGUAGE (null: removes it) and restores it afterwards.
class ScopedUserLanguage {
 public:
  explicit ScopedUserLanguage(const wchar_t* value) {
    wchar_t old[64];
    DWORD length = GetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, old, 64);
    hadValue_ = length > 0 && length < 64;
    if (hadValue_) old_ = old;
    SetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, value);
  }
  ~ScopedUserLanguage() { SetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, hadValue_ ? old_.c_str() : nullptr); }
  ScopedUserLanguage(const ScopedUserLanguage&) = delete;
  ScopedUserLanguage& operator=(const ScopedUserLanguage&) = delete;

 private:
  bool hadValue_ = false;
  std::wstring old_;
};

// Bytes in busy blocks of the process heap, where the module allocates.
inline size_t ProcessHeapBusyBytes() {
  HANDLE heap = GetProcessHeap();
  size_t total = 0;
  if (!HeapLock(heap)) return 0;
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
  }
  HeapUnlock(heap);
  return total;
}

// Removes a folder with everything below it.
inline void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  while (search != INVALID_HANDLE_VALUE) {
    std::wstring child = path + L"\\" + found.cFileName;
    if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    }
    if (!FindNextFileW(search, &found)) break;
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryW(path.c_str());
}

}  // namespace kvtest
