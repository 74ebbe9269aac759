// Running the module out of memory on purpose: the nth next module heap
// allocation fails (and only that one), for one scope.
#pragma once

#include "platform/wide_text.h"

namespace kvtest {

class ScopedAllocationFailure {
 public:
  explicit ScopedAllocationFailure(int nth) {
    countdown_ = nth;
    failed_ = false;
    g_ModuleAllocGate = &Gate;
  }
  ~ScopedAllocationFailure() { g_ModuleAllocGate = nullptr; }
  ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
  ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;

  // Whether the allocation was reached (false: the work needed fewer).
  bool failed() const { return failed_; }

 private:
  static bool Gate() noexcept {
    if (--countdown_ != 0) return true;
    failed_ = true;
    return false;
  }
  static inline int countdown_ = 0;
  static inline bool failed_ = false;
};

}  // namespace kvtest
