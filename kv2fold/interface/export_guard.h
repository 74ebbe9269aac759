// The boundary every export runs inside: nothing unwinds into the host.
//
// The module's own code allocates from the module heap and answers a failed
// allocation as a code; what can throw is the standard library's allocation
// (containers on the module heap: the destination list cache). The guarded
// operations are therefore not noexcept: whatever they throw comes here and
// becomes the export's documented answer instead of ending the host.
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

// For the exports that answer a pointer: null for anything thrown.
template <typename Operation>
auto GuardPointerExport(Operation&& operation) noexcept -> decltype(operation()) {
  try {
    return operation();
  } catch (...) {
    return nullptr;
  }
}
