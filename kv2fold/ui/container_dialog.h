// The folder selection dialog: the profile's stores and folders in a tree,
// the selected node's path in the folder label, and that path as the
// result when the user confirms a store or folder.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <mapix.h>

#include <kvcommon/unique_resource.h>

#include "platform/wide_text.h"
#include "ui/tree_dialog.h"

struct ImageListTraits {
  using value_type = HIMAGELIST;
  static HIMAGELIST invalid() noexcept { return nullptr; }
  static void close(HIMAGELIST list) noexcept { ImageList_Destroy(list); }
};
using ImageListOwner = kvcommon::UniqueResource<ImageListTraits>;

// The image list's pictures, in the order they are added.
constexpr int kTreeImageCount = 5;

class CMAPIContainerDlg : public CTreeDialog {
 public:
  // resourceModuleIn: the resource set of the job's language; languageIn:
  // the language of the warning (its low 16 bits are used).
  CMAPIContainerDlg(HINSTANCE resourceModuleIn, DWORD languageIn) noexcept
      : CTreeDialog(resourceModuleIn), language(languageIn) {}
  // Frees the result path and, once the dialog is gone, its image list
  // (a tree control never destroys the list it was given).
  ~CMAPIContainerDlg() override = default;

  BOOL OnInitDialog(HWND dialog) noexcept override;
  // OK on the profile itself, or on a folder no path can name (its name or
  // one above it is empty or holds "#"), shows a warning and keeps the
  // dialog open; otherwise the folder label's text becomes the result path.
  BOOL OnOK() noexcept override;
  BOOL OnSelChanged(CNODE* node) noexcept override;
  void InitImageList() noexcept override;
  void OnCleanup() noexcept override {}
  void GetNodeImages(CNODE* node, int& image, int& selectedImage) noexcept override;

  // IDOK when the user confirmed a store or folder: resultPath then holds
  // its path (null if memory ran out reading it). kDialogOutOfMemory when the
  // dialog could not be bound; any other answer when cancelled, when the
  // dialog could not be created or the root could not be built. No node
  // outlives the call.
  INT_PTR SelectFolder(HWND parent, IMAPISession* session, const wchar_t* profileName) noexcept;
  void FreeResult() noexcept { resultPath.reset(); }

  ModuleBlock<wchar_t> resultPath;
  HWND folderLabel = nullptr;  // control 1001
  int rootImage = 0;
  int storeImage = 0;
  int storeSelectedImage = 0;
  int folderImage = 0;
  int folderSelectedImage = 0;
  DWORD language = 0;

 private:
  // String id in the dialog's language formatted with name into text;
  // ownText stands in for a string that takes other arguments, and for a
  // missing one when ownTextWhenMissing (else false: nothing to show).
  bool FormatWarning(UINT id, const wchar_t* ownText, const wchar_t* name, bool ownTextWhenMissing, wchar_t* text,
                     int capacity) noexcept;
  void ShowWarning(const wchar_t* text) noexcept;

  ImageListOwner imageList_;
};
