// An export of a loaded KV2FOLD.dll, typed by its declaration in kve_api.h.
#pragma once

#include <windows.h>

#define MODULE_EXPORT(module, name) reinterpret_cast<decltype(&name)>(GetProcAddress(module, #name))
