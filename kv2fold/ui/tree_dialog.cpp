#include "ui/tree_dialog.h"

#include <cwchar>

#include "platform/bridge.h"
#include "resources/resource_ids.h"

CTreeDialog::~CTreeDialog() { g_WndMap.Remove(this); }

INT_PTR CTreeDialog::DoModal(HWND parent, CNODE* root) noexcept {
  rootNode = root;
  return BridgeDialogBoxParam(resourceModule, MAKEINTRESOURCEW(IDD_FOLDER_SELECTION), parent, TreeDialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CTreeDialog::TreeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message != WM_INITDIALOG && message != WM_DESTROY && message != WM_COMMAND && message != WM_NOTIFY) {
    return FALSE;
  }
  auto* object = BoundDialog<CTreeDialog>(dialog, message, lParam);
  if (!object) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      return object->OnInitDialog(dialog);
    case WM_DESTROY:
      return object->OnDestroy();
    case WM_COMMAND:
      return object->OnCommand(HIWORD(wParam), LOWORD(wParam));
    default:
      return object->OnNotify(reinterpret_cast<NMHDR*>(lParam));
  }
}

BOOL CTreeDialog::CreateTreeControl(HWND dialog) noexcept {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  RECT rect = kTreeControlRect;
  MapDialogRect(dialog, &rect);
  BridgeCreateWindow(L"SysTreeView32", L"Generic1", kTreeControlStyle, rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FOLDER_TREE)),
                     resourceModule, nullptr);
  return TRUE;
}

BOOL CTreeDialog::OnInitDialog(HWND dialog) noexcept {
  dialogWindow = dialog;
  CreateTreeControl(dialog);
  treeWindow = GetDlgItem(dialog, IDC_FOLDER_TREE);
  InitImageList();
  InsertNode(rootNode);
  // Answered at once with TVN_SELCHANGED: the root becomes the selection.
  BridgeSendMessage(treeWindow, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(rootNode->treeItem));
  return TRUE;
}

BOOL CTreeDialog::OnDestroy() noexcept {
  OnCleanup();
  return TRUE;
}

BOOL CTreeDialog::OnCommand(WORD notificationCode, WORD controlId) noexcept {
  if (notificationCode != BN_CLICKED) return FALSE;
  switch (controlId) {
    case IDOK:
      if (OnOK()) EndDialog(dialogWindow, IDOK);
      return TRUE;
    case IDCANCEL:  // also Escape and the close box
      EndDialog(dialogWindow, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL CTreeDialog::OnSelChanged(CNODE* node) noexcept {
  selectedNode = node;
  return TRUE;
}

BOOL CTreeDialog::OnNotify(NMHDR* header) noexcept {
  // The narrow codes come on a narrow platform; the fields read here lie at
  // the same places in both forms.
  const auto* change = reinterpret_cast<const NMTREEVIEWW*>(header);
  switch (header->code) {
    case TVN_SELCHANGEDW:
    case TVN_SELCHANGEDA: {
      auto* node = reinterpret_cast<CNODE*>(change->itemNew.lParam);
      if (node) OnSelChanged(node);
      return TRUE;
    }
    case TVN_ITEMEXPANDINGW:
    case TVN_ITEMEXPANDINGA: {
      auto* node = reinterpret_cast<CNODE*>(change->itemNew.lParam);
      if (!node) return TRUE;
      node->Expand();
      if (!node->firstChild) {
        // Nothing below after all: the expand button goes.
        TVITEMW item = {};
        item.mask = TVIF_HANDLE | TVIF_CHILDREN;
        item.hItem = change->itemNew.hItem;
        item.cChildren = 0;
        BridgeSendMessage(treeWindow, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
      } else if (!node->firstChild->treeItem) {
        InsertChildren(node);
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void CTreeDialog::InsertChildren(CNODE* node) noexcept {
  // The control keeps siblings sorted (TVI_SORT) by walking them from the
  // first: handed over last to first, each item goes in after one
  // comparison instead of a walk, and the control still decides the order.
  // The chain is singly linked: walk back through a list of the children.
  size_t count = 0;
  for (CNODE* child = node->firstChild; child; child = child->nextSibling) ++count;
  ModuleBlock<CNODE*> children(static_cast<CNODE**>(ModuleAlloc(count * sizeof(CNODE*))));
  if (!children) {  // the same order, at the control's pace
    for (CNODE* child = node->firstChild; child; child = child->nextSibling) InsertNode(child);
    return;
  }
  size_t i = 0;
  for (CNODE* child = node->firstChild; child; child = child->nextSibling) children.get()[i++] = child;
  while (i > 0) InsertNode(children.get()[--i]);
}

BOOL CTreeDialog::InsertNode(CNODE* node) noexcept {
  int image = 0;
  int selectedImage = 0;
  GetNodeImages(node, image, selectedImage);
  const wchar_t* name = node->GetName();
  TVINSERTSTRUCTW insert = {};
  insert.hParent = node->IsRoot() ? TVI_ROOT : node->parent->treeItem;
  insert.hInsertAfter = TVI_SORT;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
  insert.item.pszText = const_cast<wchar_t*>(name);
  insert.item.cchTextMax = static_cast<int>(wcslen(name));
  insert.item.iImage = image;
  insert.item.iSelectedImage = selectedImage;
  insert.item.cChildren = node->HasChildren() ? 1 : 0;
  insert.item.lParam = reinterpret_cast<LPARAM>(node);
  static_assert(TVIF_TEXT + TVIF_IMAGE + TVIF_PARAM + TVIF_SELECTEDIMAGE + TVIF_CHILDREN == 0x67, "item mask");
  // The narrow control takes the text in the ANSI code page.
  ModuleBlock<char> narrow;
  if (g_UseNarrowCalls) {
    NarrowDup(name, narrow.put(), CP_ACP);
    insert.item.pszText = reinterpret_cast<wchar_t*>(narrow.get());
  }
  node->treeItem = reinterpret_cast<HTREEITEM>(
      BridgeSendMessage(treeWindow, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  return TRUE;
}
