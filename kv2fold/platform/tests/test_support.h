// Helpers for the platform and options tests: heap accounting, temporary
// files, and memory that faults right behind a record.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/bridge.h"

namespace kvtest {

// Busy blocks of the process heap, from which the module allocates. The C
// runtime under test keeps its own heap, so only module blocks move this.
inline long CountModuleHeapBlocks() {
  HANDLE heap = GetProcessHeap();
  long busy = 0;
  PROCESS_HEAP_ENTRY entry{};
  HeapLock(heap);
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
  }
  HeapUnlock(heap);
  return busy;
}

// A fresh directory under the temporary folder, removed with its files.
class TempDirectory {
 public:
  TempDirectory() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    wchar_t name[64];
    static unsigned serial = 0;
    swprintf(name, 64, L"kvtest-%lu-%u", GetCurrentProcessId(), ++serial);
    path_ = std::wstring(base) + name;
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempDirectory() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileW(File(found.cFileName).c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(path_.c_str());
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  std::wstring File(const wchar_t* name) const { return path_ + L"\\" + name; }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// Two pages: the first read-write, the second PAGE_NOACCESS. Bytes placed
// with EndMinus(n) are the last n bytes before the fault.
class GuardedPage {
 public:
  GuardedPage() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    pageSize_ = info.dwPageSize;
    base_ = static_cast<unsigned char*>(VirtualAlloc(nullptr, 2 * pageSize_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base_ + pageSize_, pageSize_, PAGE_NOACCESS, &old);
  }
  ~GuardedPage() { VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedPage(const GuardedPage&) = delete;
  GuardedPage& operator=(const GuardedPage&) = delete;

  bool valid() const { return base_ != nullptr; }
  unsigned char* EndMinus(size_t bytes) const { return base_ + pageSize_ - bytes; }
  // Copies bytes so that they end right at the inaccessible page.
  template <typename T = void>
  T* PlaceAtEnd(const void* bytes, size_t size) const {
    unsigned char* at = EndMinus(size);
    memcpy(at, bytes, size);
    return reinterpret_cast<T*>(at);
  }
  void ProtectFirstPage(DWORD protection) const {
    DWORD old = 0;
    VirtualProtect(base_, pageSize_, protection, &old);
  }

 private:
  size_t pageSize_ = 0;
  unsigned char* base_ = nullptr;
};

// Test-only: runs the bridge's narrow path (or its wide one) for one scope,
// as it would run on Windows 95/98/Me. The module itself never changes the flag.
class ScopedNarrowCalls {
 public:
  explicit ScopedNarrowCalls(bool narrow = true) : saved_(g_UseNarrowCalls) { g_UseNarrowCalls = narrow ? TRUE : FALSE; }
  ~ScopedNarrowCalls() { g_UseNarrowCalls = saved_; }
  ScopedNarrowCalls(const ScopedNarrowCalls&) = delete;
  ScopedNarrowCalls& operator=(const ScopedNarrowCalls&) = delete;

 private:
  BOOLEAN saved_;
};

// True when the process's ANSI code page has characters of two bytes.
inline bool HasDoubleByteCodePage() {
  CPINFO info{};
  return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2;
}

// Double-byte tests run in their own process under a Japanese locale; there
// the variable is set, and a missing double-byte code page is a failure.
inline bool DoubleByteCodePageRequired() {
  wchar_t value[8] = {};
  return GetEnvironmentVariableW(L"KV_EXPECT_DOUBLE_BYTE_ACP", value, 8) > 0 && value[0] == L'1';
}

}  // namespace kvtest
