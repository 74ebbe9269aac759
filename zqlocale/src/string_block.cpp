#include "string_block.h"

namespace zqlocale {

// RT_STRING in its wide form (the build does not define UNICODE).
const LPCWSTR kStringType = MAKEINTRESOURCEW(6);

bool FindResourceString(HMODULE module, LANGID language, UINT id, const wchar_t** text, size_t* length) noexcept {
  if (!module || !text || !length || id > 0xFFFF) return false;
  // Sixteen strings per block; block n holds ids (n - 1) * 16 to n * 16 - 1.
  HRSRC found = FindResourceExW(module, kStringType, MAKEINTRESOURCEW((id >> 4) + 1), language);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const wchar_t* block = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
  if (!block) return false;
  size_t size = SizeofResource(module, found) / sizeof(wchar_t);
  // Each entry: a count of characters, then the characters (no terminator).
  size_t position = 0;
  for (UINT index = 0; index < (id & 15); ++index) {
    if (position >= size) return false;
    position += 1 + static_cast<size_t>(block[position]);
  }
  if (position >= size) return false;
  size_t count = block[position];
  if (count == 0 || position + 1 + count > size) return false;
  *text = block + position + 1;
  *length = count;
  return true;
}

namespace {

struct FirstFound {
  LPWSTR blockName = nullptr;
  LANGID language = 0;
  bool found = false;
};

BOOL CALLBACK TakeFirstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) {
  auto* first = reinterpret_cast<FirstFound*>(context);
  // String blocks are numbered, never named.
  if (!IS_INTRESOURCE(name)) return TRUE;
  first->blockName = name;
  first->found = true;
  return FALSE;
}

BOOL CALLBACK TakeFirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
  auto* first = reinterpret_cast<FirstFound*>(context);
  first->language = language;
  return FALSE;
}

}  // namespace

LANGID StringTableLanguage(HMODULE module) noexcept {
  if (!module) return 0;
  FirstFound first;
  EnumResourceNamesW(module, kStringType, TakeFirstName, reinterpret_cast<LONG_PTR>(&first));
  if (!first.found) return 0;
  EnumResourceLanguagesW(module, kStringType, first.blockName, TakeFirstLanguage, reinterpret_cast<LONG_PTR>(&first));
  return first.language;
}

}  // namespace zqlocale
