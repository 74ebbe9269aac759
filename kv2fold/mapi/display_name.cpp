#include "mapi/display_name.h"

#include <mapitags.h>

#include <cwchar>

bool RowDisplayName::Read(const SRow& row, ULONG wideColumn, ULONG narrowColumn) noexcept {
  text_ = nullptr;
  length_ = 0;
  if (row.cValues > wideColumn && PROP_TYPE(row.lpProps[wideColumn].ulPropTag) == PT_UNICODE &&
      row.lpProps[wideColumn].Value.lpszW) {
    text_ = row.lpProps[wideColumn].Value.lpszW;
    length_ = wcslen(text_);
    return true;
  }
  if (row.cValues <= narrowColumn || PROP_TYPE(row.lpProps[narrowColumn].ulPropTag) != PT_STRING8 ||
      !row.lpProps[narrowColumn].Value.lpszA) {
    return false;
  }
  const char* narrow = row.lpProps[narrowColumn].Value.lpszA;
  const int length = lstrlenA(narrow) + 1;
  wchar_t* target = inline_;
  if (length > kInlineCharacters) {
    heap_.reset(static_cast<wchar_t*>(ModuleAlloc(static_cast<size_t>(length) * sizeof(wchar_t))));
    if (!heap_) return false;
    target = heap_.get();
  }
  if (MultiByteToWideChar(CP_ACP, 0, narrow, length, target, length) == 0) return false;
  text_ = target;
  length_ = wcslen(target);
  return true;
}

bool RowDisplayName::Equals(const wchar_t* name, size_t nameLength) const noexcept {
  return text_ && length_ == nameLength && wmemcmp(text_, name, nameLength) == 0;
}
