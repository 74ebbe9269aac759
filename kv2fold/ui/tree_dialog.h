// A modal dialog that hosts a tree control and shows a tree of CNODEs: it
// creates the control, inserts nodes as items, loads a branch's children
// when it opens, follows the selection and ends on OK or Cancel. What is
// particular to a use of it (images, the check on OK) is left to a derived
// class.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "ui/folder_tree.h"
#include "ui/window_framework.h"

// The tree control as the dialog creates it: WS_CHILD, WS_VISIBLE, WS_BORDER,
// WS_TABSTOP, TVS_HASBUTTONS, TVS_HASLINES, TVS_LINESATROOT,
// TVS_DISABLEDRAGDROP, TVS_SHOWSELALWAYS; in dialog units left 4, top 67,
// right 181, bottom 225.
constexpr DWORD kTreeControlStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                                    TVS_LINESATROOT | TVS_DISABLEDRAGDROP | TVS_SHOWSELALWAYS;
static_assert(kTreeControlStyle == 0x50810037, "tree control style");
constexpr RECT kTreeControlRect = {4, 67, 181, 225};

class CTreeDialog : public CIWnd {
 public:
  explicit CTreeDialog(HINSTANCE resourceModuleIn) noexcept : resourceModule(resourceModuleIn) {}
  // Leaves the window map.
  ~CTreeDialog() override;
  CTreeDialog(const CTreeDialog&) = delete;
  CTreeDialog& operator=(const CTreeDialog&) = delete;

  virtual BOOL CreateTreeControl(HWND dialog) noexcept;
  virtual BOOL OnInitDialog(HWND dialog) noexcept;
  virtual BOOL OnDestroy() noexcept;
  virtual BOOL OnCommand(WORD notificationCode, WORD controlId) noexcept;
  // TRUE lets the dialog end with IDOK.
  virtual BOOL OnOK() noexcept = 0;
  virtual BOOL OnSelChanged(CNODE* node) noexcept;
  virtual void InitImageList() noexcept = 0;
  virtual void OnCleanup() noexcept = 0;
  virtual void GetNodeImages(CNODE* node, int& image, int& selectedImage) noexcept = 0;
  virtual BOOL OnNotify(NMHDR* header) noexcept;

  // Runs the dialog (template 101) over root; its answer: IDOK, IDCANCEL,
  // kDialogOutOfMemory, or -1 when it could not be created.
  INT_PTR DoModal(HWND parent, CNODE* root) noexcept;
  // Inserts node as an item below its parent's item (the root at the top).
  BOOL InsertNode(CNODE* node) noexcept;
  static INT_PTR CALLBACK TreeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  HINSTANCE resourceModule = nullptr;  // template, tree control and bitmaps come from here
  CNODE* rootNode = nullptr;
  CNODE* selectedNode = nullptr;       // the node last reported as selected
  HWND dialogWindow = nullptr;
  HWND treeWindow = nullptr;

 private:
  // Items for node's children, which are in the node's order.
  void InsertChildren(CNODE* node) noexcept;
};
