// The boundary every export runs inside: nothing unwinds into the host.
#pragma once

#include <new>

#include "interface/kve_api.h"

// Runs operation; running out of memory becomes 2, anything else thrown
// otherFailure (-1 unless the export documents another code).
template <typename Operation>
int GuardExport(Operation&& operation, int otherFailure = KVE_FAILED) noexcept {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
    return KVE_NO_MEMORY;
  } catch (...) {
    return otherFailure;
  }
}
