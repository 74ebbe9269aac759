// MAPIAllocateBuffer, MAPIAllocateMore and MAPIFreeBuffer.
// A buffer and every block allocated "more" onto it are freed together by one
// MAPIFreeBuffer of the buffer. Each block carries a small header in front of
// the caller's bytes: a tag that tells roots from linked blocks (and catches
// foreign pointers), and the chain of linked blocks.
#include "allocation.h"

#include <windows.h>

#include <mapix.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace provider {
namespace {

constexpr uint32_t kRootTag = 0x4B564231;  // "KVB1"
constexpr uint32_t kMoreTag = 0x4B564D31;  // "KVM1"
constexpr uint32_t kFreedTag = 0x4B564630;

struct alignas(16) BlockHeader {
  BlockHeader* nextMore;  // root: first linked block; linked block: the next one
  uint32_t tag;
  uint32_t reserved;
};
static_assert(sizeof(BlockHeader) == 16, "the header keeps the heap's alignment for the caller's bytes");

std::atomic<long> g_liveRoots{0};
std::atomic<long> g_liveMore{0};
CRITICAL_SECTION g_chainLock;
INIT_ONCE g_chainLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InitChainLock(PINIT_ONCE, PVOID, PVOID*) {
  InitializeCriticalSection(&g_chainLock);
  return TRUE;
}

void LockChains() {
  InitOnceExecuteOnce(&g_chainLockOnce, InitChainLock, nullptr, nullptr);
  EnterCriticalSection(&g_chainLock);
}

BlockHeader* HeaderOf(void* p) { return reinterpret_cast<BlockHeader*>(static_cast<BYTE*>(p) - sizeof(BlockHeader)); }

BlockHeader* NewBlock(ULONG size, uint32_t tag) {
  if (size > 0x7FFFFFF0u) return nullptr;
  void* raw = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BlockHeader) + size);
  if (!raw) return nullptr;
  BlockHeader* header = static_cast<BlockHeader*>(raw);
  header->tag = tag;
  header->nextMore = nullptr;
  return header;
}

}  // namespace

long LiveBufferCount() { return g_liveRoots.load(); }
long LiveLinkedBlockCount() { return g_liveMore.load(); }

}  // namespace provider

using namespace provider;

extern "C" SCODE WINAPI MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
  if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  BlockHeader* header = NewBlock(cbSize, kRootTag);
  if (!header) return MAPI_E_NOT_ENOUGH_MEMORY;
  ++g_liveRoots;
  *lppBuffer = header + 1;
  return S_OK;
}

extern "C" SCODE WINAPI MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
  if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  if (!lpObject) return MAPI_E_INVALID_PARAMETER;
  BlockHeader* root = HeaderOf(lpObject);
  if (root->tag != kRootTag) return MAPI_E_INVALID_PARAMETER;
  BlockHeader* header = NewBlock(cbSize, kMoreTag);
  if (!header) return MAPI_E_NOT_ENOUGH_MEMORY;
  LockChains();
  header->nextMore = root->nextMore;
  root->nextMore = header;
  LeaveCriticalSection(&g_chainLock);
  ++g_liveMore;
  *lppBuffer = header + 1;
  return S_OK;
}

extern "C" ULONG WINAPI MAPIFreeBuffer(LPVOID lpBuffer) {
  if (!lpBuffer) return S_OK;
  BlockHeader* root = HeaderOf(lpBuffer);
  // Only a buffer from MAPIAllocateBuffer may be freed; a linked block goes with its root.
  if (root->tag != kRootTag) return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
  LockChains();
  BlockHeader* more = root->nextMore;
  root->nextMore = nullptr;
  root->tag = kFreedTag;
  LeaveCriticalSection(&g_chainLock);
  while (more) {
    BlockHeader* next = more->nextMore;
    more->tag = kFreedTag;
    HeapFree(GetProcessHeap(), 0, more);
    --g_liveMore;
    more = next;
  }
  HeapFree(GetProcessHeap(), 0, root);
  --g_liveRoots;
  return S_OK;
}
