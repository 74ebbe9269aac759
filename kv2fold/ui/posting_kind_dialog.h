// The posting kind dialog ("IDD_FOLDER_DEST_TYPE"): Personal Report, Folder
// Report or Report Instance, as radio buttons numbered as the kinds.
// AskPostingKind (ui/user_prompts.h) runs it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/window_framework.h"

class CPostingKindDialog : public CIWnd {
 public:
  explicit CPostingKindDialog(uint16_t preselected) noexcept : kind(preselected) {}
  ~CPostingKindDialog() override { g_WndMap.Remove(this); }
  CPostingKindDialog(const CPostingKindDialog&) = delete;
  CPostingKindDialog& operator=(const CPostingKindDialog&) = delete;

  static INT_PTR CALLBACK PostingKindDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  uint16_t kind;  // preselected at start; the checked button's after OK
};
