// A table row's display name as wide text, for matching a folder path and
// for building one: the wide column where the store serves it (real MAPI
// stores do), else the single-byte column converted in the ANSI code page.
// Both forms are read from the same row so that the name a dialog shows and
// the name a path is matched against are one and the same.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstddef>

#include "platform/wide_text.h"

class RowDisplayName {
 public:
  RowDisplayName() noexcept = default;
  RowDisplayName(const RowDisplayName&) = delete;
  RowDisplayName& operator=(const RowDisplayName&) = delete;

  // False when the row holds neither form as a string, or the narrow form
  // cannot be converted (memory, code page).
  bool Read(const SRow& row, ULONG wideColumn, ULONG narrowColumn) noexcept;
  const wchar_t* get() const noexcept { return text_; }
  size_t length() const noexcept { return length_; }
  // Whether the name equals the given characters exactly (case matters).
  bool Equals(const wchar_t* name, size_t nameLength) const noexcept;

 private:
  static constexpr int kInlineCharacters = 260;
  wchar_t inline_[kInlineCharacters];
  ModuleBlock<wchar_t> heap_;
  const wchar_t* text_ = nullptr;
  size_t length_ = 0;
};
