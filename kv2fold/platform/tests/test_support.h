// Helpers for the platform and options tests: heap accounting, temporary
// files, memory that faults right behind a record, and the narrow-path switch.
#pragma once

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "platform/bridge.h"
#include "tests/support/test_environment.h"

namespace kvtest {

// Busy blocks of the process heap, where the module allocates (the C runtime
// keeps a heap of its own).
inline long CountModuleHeapBlocks() {
  HANDLE heap = GetProcessHeap();
  long busy = 0;
  PROCESS_HEAP_ENTRY entry{};
  HeapLock(heap);
  while (HeapWalk(heap, &entry)) busy += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ? 1 : 0;
  HeapUnlock(heap);
  return busy;
}

// A fresh folder under the temporary folder, removed with everything in it.
class TempDirectory {
 public:
  TempDirectory() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned serial = 0;
    wchar_t name[64];
    swprintf(name, 64, L"kvtest-%lu-%u", GetCurrentProcessId(), ++serial);
    path_ = std::wstring(base) + name;
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempDirectory() { RemoveTree(path_); }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  std::wstring File(const wchar_t* name) const { return path_ + L"\\" + name; }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// A read-write page followed by a PAGE_NOACCESS page: bytes placed at
// EndMinus(n) are the last n bytes before a fault.
class GuardedPage {
 public:
  GuardedPage() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_ = info.dwPageSize;
    base_ = static_cast<unsigned char*>(VirtualAlloc(nullptr, 2 * size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base_ + size_, size_, PAGE_NOACCESS, &old);
  }
  ~GuardedPage() { VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedPage(const GuardedPage&) = delete;
  GuardedPage& operator=(const GuardedPage&) = delete;

  unsigned char* EndMinus(size_t bytes) const { return base_ + size_ - bytes; }
  template <typename T>
  const T* PlaceAtEnd(const void* bytes, size_t size) const {
    memcpy(EndMinus(size), bytes, size);
    return reinterpret_cast<const T*>(EndMinus(size));
  }
  void ProtectFirstPage(DWORD protection) const {
    DWORD old = 0;
    VirtualProtect(base_, size_, protection, &old);
  }

 private:
  size_t size_ = 0;
  unsigned char* base_ = nullptr;
};

// Test-only: the bridge takes its narrow path (as on Windows 95/98/Me), or its
// wide one, for one scope. The module itself never changes the flag.
class ScopedNarrowCalls {
 public:
  explicit ScopedNarrowCalls(bool narrow = true) : saved_(g_UseNarrowCalls) { g_UseNarrowCalls = narrow; }
  ~ScopedNarrowCalls() { g_UseNarrowCalls = saved_; }
  ScopedNarrowCalls(const ScopedNarrowCalls&) = delete;
  ScopedNarrowCalls& operator=(const ScopedNarrowCalls&) = delete;

 private:
  BOOLEAN saved_;
};

// Double-byte tests need code page 932; the test run under a Japanese locale
// sets KV_EXPECT_DOUBLE_BYTE_ACP=1, and there a single-byte code page fails.
inline bool HasDoubleByteCodePage() {
  CPINFO info{};
  return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2;
}
inline bool DoubleByteCodePageRequired() {
  wchar_t value[4] = {};
  return GetEnvironmentVariableW(L"KV_EXPECT_DOUBLE_BYTE_ACP", value, 4) > 0 && value[0] == L'1';
}

}  // namespace kvtest

// Skips a double-byte test in a single-byte process unless it was required.
#define KV_REQUIRE_DOUBLE_BYTE_CODE_PAGE()                                                               \
  do {                                                                                                   \
    if (!kvtest::HasDoubleByteCodePage()) {                                                              \
      if (kvtest::DoubleByteCodePageRequired()) FAIL() << "code page " << GetACP() << " is single-byte"; \
      GTEST_SKIP() << "code page " << GetACP() << " is single-byte";                                     \
    }                                                                                                    \
  } while (0)
