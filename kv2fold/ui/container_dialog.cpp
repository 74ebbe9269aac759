#include "ui/container_dialog.h"

#include "interface/kve_api.h"
#include "platform/bridge.h"
#include "platform/module_resources.h"
#include "platform/wide_text.h"
#include "resources/resource_ids.h"

namespace {

struct BitmapTraits {
  using value_type = HBITMAP;
  static HBITMAP invalid() noexcept { return nullptr; }
  static void close(HBITMAP bitmap) noexcept { DeleteObject(bitmap); }
};
using BitmapOwner = kvcommon::UniqueResource<BitmapTraits>;

constexpr int kWarningCapacity = 256;
// The warning on a folder no path can name says more.
constexpr int kUnnamedWarningCapacity = 512;

}  // namespace

INT_PTR CMAPIContainerDlg::SelectFolder(HWND parent, IMAPISession* session, const wchar_t* profileName) noexcept {
  // The whole tree lives as long as this root: every node and MAPI object
  // below it is gone when the call returns.
  FOLDERDATA root(session, profileName);
  if (!root.valid) return IDCANCEL;
  return DoModal(parent, &root);
}

BOOL CMAPIContainerDlg::OnInitDialog(HWND dialog) noexcept {
  // Before the base selects the root, so the label shows it at once.
  folderLabel = GetDlgItem(dialog, IDC_FOLDER_LABEL);
  CTreeDialog::OnInitDialog(dialog);
  BridgeSendMessage(GetDlgItem(dialog, IDC_PROFILE_LABEL), WM_SETTEXT, 0,
                    reinterpret_cast<LPARAM>(rootNode->GetName()));
  // The tree asks for the root's children: the profile's stores.
  BridgeSendMessage(treeWindow, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(rootNode->treeItem));
  return TRUE;
}

BOOL CMAPIContainerDlg::OnSelChanged(CNODE* node) noexcept {
  CTreeDialog::OnSelChanged(node);
  const auto* container = static_cast<FOLDERDATA*>(node);
  BridgeSetWindowText(folderLabel, container->path ? container->path.get() : container->GetName());
  return TRUE;
}

BOOL CMAPIContainerDlg::OnOK() noexcept {
  if (selectedNode && selectedNode->IsRoot()) {
    // Without its string the warning is not shown at all.
    wchar_t text[kWarningCapacity];
    if (FormatWarning(IDS_PROFILE_CANNOT_BE_REPORTED, L"Profile \"%s\" cannot be reported.",  // fallback text the module carries itself
                      rootNode->GetName(), false, text, kWarningCapacity)) {
      ShowWarning(text);
    }
    return FALSE;
  }
  // A path through a name that is empty or holds "#" would post elsewhere.
  if (selectedNode && !static_cast<FOLDERDATA*>(selectedNode)->pathExpressible) {
    wchar_t text[kUnnamedWarningCapacity];
    FormatWarning(IDS_FOLDER_CANNOT_BE_NAMED,
                  L"The folder \"%s\" cannot be chosen: its name, or the name of a folder above it, is empty or "
                  L"contains \"#\", and a folder path cannot name it.",  // fallback text the module carries itself
                  selectedNode->GetName(), true, text, kUnnamedWarningCapacity);
    ShowWarning(text);
    return FALSE;
  }
  // The label always shows the selected node's path.
  const int length = BridgeGetWindowTextLength(folderLabel);
  resultPath.reset(static_cast<wchar_t*>(ModuleAlloc((static_cast<size_t>(length) + 2) * sizeof(wchar_t))));
  if (resultPath) BridgeGetWindowText(folderLabel, resultPath.get(), length + 1);
  return TRUE;
}

bool CMAPIContainerDlg::FormatWarning(UINT id, const wchar_t* ownText, const wchar_t* name, bool ownTextWhenMissing,
                                      wchar_t* text, int capacity) noexcept {
  wchar_t format[kUnnamedWarningCapacity];
  if (LoadResourceString(id, format, kUnnamedWarningCapacity - 1, LOWORD(language)) != KVE_OK) {
    if (!ownTextWhenMissing) return false;
    CopyWide(format, kUnnamedWarningCapacity, ownText, kUnnamedWarningCapacity - 1);
  }
  // A translation that asks for other arguments than the name is not used as a format.
  if (!TakesSameArguments(format, ownText)) CopyWide(format, kUnnamedWarningCapacity, ownText, kUnnamedWarningCapacity - 1);
  FormatWide(text, static_cast<size_t>(capacity), format, name);  // a long name is cut
  return true;
}

void CMAPIContainerDlg::ShowWarning(const wchar_t* text) noexcept {
  wchar_t caption[64];
  if (LoadResourceString(IDS_WARNING_CAPTION, caption, 63, LOWORD(language)) != KVE_OK) {
    CopyWide(caption, 64, L"Warning", 63);  // fallback text the module carries itself
  }
  MessageBeep(0xFFFFFFFF);
  MessageBoxW(dialogWindow, text, caption, MB_OK | MB_ICONINFORMATION);
}

void CMAPIContainerDlg::InitImageList() noexcept {
  imageList_.reset(ImageList_Create(16, 16, 0, kTreeImageCount, 0));
  if (!imageList_) return;
  const struct {
    int bitmap;
    int* index;
  } pictures[kTreeImageCount] = {{IDB_PROFILE, &rootImage},
                                 {IDB_STORE, &storeImage},
                                 {IDB_STORE_SELECTED, &storeSelectedImage},
                                 {IDB_FOLDER, &folderImage},
                                 {IDB_FOLDER_SELECTED, &folderSelectedImage}};
  for (const auto& picture : pictures) {
    BitmapOwner bitmap(BridgeLoadBitmap(resourceModule, MAKEINTRESOURCEW(picture.bitmap)));
    *picture.index = ImageList_Add(imageList_.get(), bitmap.get(), nullptr);
  }
  // A list that lacks a picture is not shown at all.
  if (ImageList_GetImageCount(imageList_.get()) >= kTreeImageCount) {
    BridgeSendMessage(treeWindow, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(imageList_.get()));
  }
}

void CMAPIContainerDlg::GetNodeImages(CNODE* node, int& image, int& selectedImage) noexcept {
  if (node->IsRoot()) {
    image = selectedImage = rootImage;
  } else if (static_cast<FOLDERDATA*>(node)->isStore) {
    image = storeImage;
    selectedImage = storeSelectedImage;
  } else {
    image = folderImage;
    selectedImage = folderSelectedImage;
  }
}
