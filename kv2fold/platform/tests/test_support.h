// Helpers of the module's tests below the host interface: heap accounting,
// memory that faults right behind a record, and the narrow-path switch.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

#include "kvtest/environment.h"
#include "platform/bridge.h"

namespace kvtest {

// Busy blocks of the process heap and their bytes: where the module
// allocates (the C runtime keeps a heap of its own).
struct HeapUse {
  long blocks = 0;
  size_t bytes = 0;
};
inline HeapUse ModuleHeapUse() {
  HANDLE heap = GetProcessHeap();
  HeapUse use;
  PROCESS_HEAP_ENTRY entry{};
  if (!HeapLock(heap)) return use;
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
      ++use.blocks;
      use.bytes += entry.cbData;
    }
  }
  HeapUnlock(heap);
  return use;
}
inline long CountModuleHeapBlocks() { return ModuleHeapUse().blocks; }
inline size_t ProcessHeapBusyBytes() { return ModuleHeapUse().bytes; }

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
