#include "platform/wide_text.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

ModuleAllocGate g_ModuleAllocGate = nullptr;

void* ModuleAlloc(size_t bytes) noexcept {
  if (g_ModuleAllocGate && !g_ModuleAllocGate()) return nullptr;
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes ? bytes : 1);
}

void* ModuleRealloc(void* block, size_t bytes) noexcept {
  if (!block) return ModuleAlloc(bytes);
  if (g_ModuleAllocGate && !g_ModuleAllocGate()) return nullptr;
  return HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, block, bytes ? bytes : 1);
}

void ModuleFree(void* block) noexcept {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

wchar_t* ModuleDupWide(const wchar_t* source) noexcept {
  if (!source) return nullptr;
  size_t length = wcslen(source);
  wchar_t* copy = static_cast<wchar_t*>(ModuleAlloc((length + 1) * sizeof(wchar_t)));
  if (copy) wmemcpy(copy, source, length + 1);
  return copy;
}

void CopyWide(wchar_t* target, size_t capacity, const wchar_t* source, size_t maxCopy) noexcept {
  if (!target || capacity == 0) return;
  size_t i = 0;
  if (source) {
    while (i + 1 < capacity && i < maxCopy && source[i] != L'\0') {
      target[i] = source[i];
      ++i;
    }
  }
  target[i] = L'\0';
}

int DupWideString(wchar_t** slot, const wchar_t* source) noexcept {
  if (!slot) return 0;
  *slot = ModuleDupWide(source);
  return *slot != nullptr ? 1 : 0;
}

int FormatWide(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) noexcept {
  if (!buffer || capacity == 0) return -1;
  if (!format) {
    buffer[0] = L'\0';
    return -1;
  }
  va_list args;
  va_start(args, format);
  // The system's own _vsnwprintf: %s is a wide string there, as in the
  // module's resource strings ("For %s:").
  int written = _vsnwprintf(buffer, capacity, format, args);
  va_end(args);
  if (written < 0 || static_cast<size_t>(written) >= capacity) {
    buffer[capacity - 1] = L'\0';
    return -1;
  }
  buffer[written] = L'\0';
  return written;
}
