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

namespace {

// The next conversion of a format from *cursor on, as its argument kind: the
// length modifier and the conversion letter ("ls" reads as "s"). Empty at the
// end; "?" for what no module format uses.
void NextConversion(const wchar_t*& cursor, wchar_t kind[4]) noexcept {
  kind[0] = L'\0';
  while (*cursor != L'\0') {
    if (*cursor++ != L'%') continue;
    if (*cursor == L'%') {
      ++cursor;
      continue;
    }
    while (*cursor != L'\0' && wcschr(L"-+ #0123456789.", *cursor)) ++cursor;
    size_t length = 0;
    while (*cursor != L'\0' && length < 2 && wcschr(L"hlLwI", *cursor)) kind[length++] = *cursor++;
    if (*cursor == L'\0' || *cursor == L'*' || *cursor == L'$') {
      wcscpy(kind, L"?");
      return;
    }
    kind[length++] = *cursor++;
    kind[length] = L'\0';
    if (wcscmp(kind, L"ls") == 0) wcscpy(kind, L"s");
    return;
  }
}

}  // namespace

bool TakesSameArguments(const wchar_t* format, const wchar_t* expected) noexcept {
  if (!format || !expected) return false;
  for (;;) {
    wchar_t have[4];
    wchar_t want[4];
    NextConversion(format, have);
    NextConversion(expected, want);
    if (wcscmp(have, L"?") == 0 || wcscmp(have, want) != 0) return false;
    if (have[0] == L'\0') return true;
  }
}
