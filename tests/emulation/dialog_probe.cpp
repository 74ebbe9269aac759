// The smallest program that does what the first dialog case of the module's
// tests does: a modal dialog with a tree view on the main thread, and either
// a timer of its own or a second thread (as the tests' dialog driver) that
// finds it by caption, fills the tree and presses OK. Run many times under
// qemu and 32-bit Wine, it tells whether a crash there is ours or below us.
//   dialog_probe.exe self | driven
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "dialog_probe_ids.h"

namespace {

INT_PTR CALLBACK ProbeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (lParam) SetTimer(dialog, 1, 200, nullptr);
      return TRUE;
    case WM_TIMER:
      KillTimer(dialog, 1);
      EndDialog(dialog, IDOK);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

// What the tests' driver does: wait for the caption, add and select an item,
// click OK through a posted message.
void Drive() {
  HWND dialog = nullptr;
  for (int i = 0; i < 600 && !dialog; ++i) {
    dialog = FindWindowW(nullptr, L"Probe");
    if (!dialog || !IsWindowVisible(dialog)) {
      dialog = nullptr;
      Sleep(100);
    }
  }
  if (!dialog) return;
  HWND tree = GetDlgItem(dialog, IDC_PROBE_TREE);
  wchar_t text[] = L"Mailbox";
  TVINSERTSTRUCTW insert = {};
  insert.hParent = TVI_ROOT;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT;
  insert.item.pszText = text;
  auto item = reinterpret_cast<LPARAM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, item);
  PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  bool driven = argc > 1 && std::strcmp(argv[1], "driven") == 0;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  std::thread driver;
  if (driven) driver = std::thread(Drive);
  INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROBE), nullptr, ProbeProc,
                                   driven ? 0 : 1);
  if (driver.joinable()) driver.join();
  std::printf("dialog_probe %s: dialog ended with %d\n", driven ? "driven" : "self", static_cast<int>(result));
  return result == IDOK ? 0 : 1;
}
