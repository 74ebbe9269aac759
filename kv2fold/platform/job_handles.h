// The numbers the module hands a host as job handles, wide and narrow alike:
// never an address, never the same twice in a process, so the handle of an
// ended job (or one made up, or one of the other width) names no job instead
// of memory that may hold another one by now.
#pragma once

#include <windows.h>

#include <cstdint>

// The next handle number: odd (no heap address is), counting up from a base
// no small integer reaches. One sequence for both widths.
uintptr_t NewJobHandleValue() noexcept;
