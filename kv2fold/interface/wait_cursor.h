// The standard wait cursor while a long-running entry point works; the
// previous cursor comes back on every return.
#pragma once

#include <windows.h>

class WaitCursor {
 public:
  WaitCursor() noexcept : previous_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { SetCursor(previous_); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR previous_;
};
