#include "platform/job_handles.h"

namespace {

// Odd numbers from here: about 1.5 billion handles before the counter comes round.
constexpr LONG kFirstHandle = 0x4B560001;
LONG volatile g_lastHandle = kFirstHandle - 2;

}  // namespace

uintptr_t NewJobHandleValue() noexcept {
  // The host serialises its calls; the exchange keeps two hosts' threads apart all the same.
  return static_cast<uintptr_t>(static_cast<ULONG>(InterlockedExchangeAdd(&g_lastHandle, 2) + 2));
}
