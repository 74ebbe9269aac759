// The report name dialog: one line for the name under which a file is
// posted as a report template, with OK, Cancel (skip this file) and Abort
// (end the export). AskReportName (ui/user_prompts.h) runs it.
#pragma once

#include <windows.h>

#include "ui/window_framework.h"

// Characters of the label and of the name, terminator included.
constexpr int kReportNameCapacity = 256;

class CDisplayNameDialog : public CIWnd {
 public:
  // The label: "For %s:" with fileName (cut to fit).
  CDisplayNameDialog(const wchar_t* fileName, DWORD languageIn) noexcept;
  ~CDisplayNameDialog() override { g_WndMap.Remove(this); }
  CDisplayNameDialog(const CDisplayNameDialog&) = delete;
  CDisplayNameDialog& operator=(const CDisplayNameDialog&) = delete;

  static INT_PTR CALLBACK DisplayNameDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  // The edit box's text (at most 254 characters) without trailing spaces.
  void ReadName() noexcept;

  wchar_t label[kReportNameCapacity] = {};
  wchar_t name[kReportNameCapacity] = {};
  DWORD language = 0;  // passed on whole
};
