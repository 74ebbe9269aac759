// The character-width bridge on both paths: the wide one that Wine takes by
// itself, and the narrow one of Windows 95/98/Me, forced with
// ScopedNarrowCalls. Real hidden windows and controls, under Xvfb.
#define OEMRESOURCE
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/bridge.h"
#include "platform/tests/test_support.h"
#include "platform/wide_text.h"

using kvtest::ScopedNarrowCalls;

namespace {

constexpr int kEditId = 101;
const HINSTANCE kTestProgram = GetModuleHandleW(nullptr);
HMENU ControlId(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

// A hidden top-level window holding one edit control.
struct HiddenWindow {
  HiddenWindow() {
    frame = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 120, nullptr, nullptr, kTestProgram,
                            nullptr);
    edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 280, 24, frame, ControlId(kEditId),
                           kTestProgram, nullptr);
  }
  ~HiddenWindow() { DestroyWindow(frame); }
  std::wstring Text() const {
    wchar_t text[64] = {};
    GetWindowTextW(edit, text, 64);
    return text;
  }
  HWND frame;
  HWND edit;
};

// Notes the message numbers a window receives and passes every message on.
class MessageRecorder {
 public:
  explicit MessageRecorder(HWND window) : window_(window) {
    active_ = this;
    original_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Record)));
  }
  ~MessageRecorder() { SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_)); }
  long Count(UINT message) const { return static_cast<long>(std::count(seen_.begin(), seen_.end(), message)); }

 private:
  static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    active_->seen_.push_back(message);
    return CallWindowProcW(active_->original_, window, message, wParam, lParam);
  }
  static inline MessageRecorder* active_ = nullptr;
  HWND window_;
  WNDPROC original_;
  std::vector<UINT> seen_;
};

// Ends the dialog at once with 42, noting whether it runs as a wide window.
INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM unicodeOut) {
  if (message != WM_INITDIALOG) return FALSE;
  *reinterpret_cast<BOOL*>(unicodeOut) = IsWindowUnicode(dialog);
  EndDialog(dialog, 42);
  return TRUE;
}

}  // namespace

// What callers rely on, whichever path the bridge takes.
class BridgeBothPaths : public testing::TestWithParam<bool> {
 protected:
  bool narrow() const { return GetParam(); }
  ScopedNarrowCalls path_{GetParam()};
  HiddenWindow window_;
};

TEST_P(BridgeBothPaths, TextGoesInAndComesOutWhole) {
  ASSERT_TRUE(BridgeSetWindowText(window_.edit, L"Posteingang#Berichte"));
  EXPECT_EQ(L"Posteingang#Berichte", window_.Text());
  EXPECT_EQ(20, BridgeGetWindowTextLength(window_.edit));
  wchar_t text[32];
  std::fill(std::begin(text), std::end(text), L'#');
  EXPECT_EQ(20, BridgeGetWindowText(window_.edit, text, 32));
  EXPECT_STREQ(L"Posteingang#Berichte", text);
  std::fill(std::begin(text), std::end(text), L'#');
  EXPECT_EQ(3, BridgeGetWindowText(window_.edit, text, 4)) << "cut to the capacity and terminated";
  EXPECT_STREQ(L"Pos", text);
  EXPECT_EQ(L'#', text[4]);

  EXPECT_TRUE(BridgeSendMessage(window_.edit, WM_SETTEXT, 0, 0)) << "no text empties the control";
  EXPECT_EQ(L"", window_.Text());
}

TEST_P(BridgeBothPaths, CharUpperWorksInPlace) {
  wchar_t text[] = L"ipm.document.gr\u00fc\u00dfe";
  EXPECT_EQ(text, BridgeCharUpper(text));
  EXPECT_STREQ(L"IPM.DOCUMENT.GR\u00dc\u00dfE", text);
}

TEST_P(BridgeBothPaths, ResourcesByNumberReachTheSystemUnchanged) {
  const struct {
    LPCWSTR name;
    INT_PTR expected;
  } templates[] = {
      {MAKEINTRESOURCEW(27201), 42}, {L"KVBRIDGETESTDIALOG", 42}, {L"KVNOSUCHDIALOG", -1}};  // bridge_test.rc
  for (const auto& t : templates) {
    BOOL unicode = -1;
    EXPECT_EQ(t.expected,
              BridgeDialogBoxParam(kTestProgram, t.name, window_.frame, EndAtOnce, reinterpret_cast<LPARAM>(&unicode)));
    if (t.expected == 42) {
      EXPECT_EQ(!narrow(), unicode) << "DialogBoxParamA makes a narrow dialog";
    }
  }
  HBITMAP bitmap = BridgeLoadBitmap(nullptr, MAKEINTRESOURCEW(OBM_CHECK));
  BITMAP info{};
  EXPECT_EQ(static_cast<int>(sizeof(info)), GetObjectW(bitmap, sizeof(info), &info));
  EXPECT_GT(info.bmWidth, 0);
  DeleteObject(bitmap);

  HWND edit = BridgeCreateWindow(L"EDIT", L"Anfang", WS_CHILD, 0, 30, 100, 20, window_.frame, ControlId(102),
                                 kTestProgram, nullptr);
  ASSERT_EQ(GetDlgItem(window_.frame, 102), edit);
  EXPECT_EQ(!narrow(), IsWindowUnicode(edit)) << "CreateWindowExA makes a narrow window";
  wchar_t text[16] = {};
  GetWindowTextW(edit, text, 16);
  EXPECT_STREQ(L"Anfang", text);
}

INSTANTIATE_TEST_SUITE_P(Bridge, BridgeBothPaths, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& path) { return path.param ? "Narrow" : "Wide"; });

TEST(BridgeNarrowPath, GetTextWithoutRoomIsNotSentAndNoTextIsNotSet) {
  HiddenWindow window;
  SetWindowTextW(window.edit, L"bleibt");
  MessageRecorder recorder(window.edit);
  wchar_t text[4] = {L'#'};
  {
    ScopedNarrowCalls narrow;
    EXPECT_EQ(0, BridgeSendMessage(window.edit, WM_GETTEXT, 0, reinterpret_cast<LPARAM>(text)));
    EXPECT_FALSE(BridgeSetWindowText(window.edit, nullptr));
  }
  EXPECT_EQ(0, recorder.Count(WM_GETTEXT));
  EXPECT_EQ(0, recorder.Count(WM_SETTEXT));
  EXPECT_EQ(L'#', text[0]);
  BridgeSendMessage(window.edit, WM_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_EQ(1, recorder.Count(WM_GETTEXT)) << "the wide path does send it";
  EXPECT_EQ(L"bleibt", window.Text());
}

TEST(BridgeNarrowPath, TreeInsertArrivesAsTheNarrowMessage) {
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = reinterpret_cast<InitFunction>(GetProcAddress(LoadLibraryW(L"comctl32.dll"), "InitCommonControlsEx"));
  INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_TREEVIEW_CLASSES};
  ASSERT_TRUE(init && init(&classes));
  HiddenWindow window;
  ScopedNarrowCalls narrow;
  HWND tree = BridgeCreateWindow(WC_TREEVIEWW, nullptr, WS_CHILD, 0, 0, 200, 100, window.frame, ControlId(103),
                                 kTestProgram, nullptr);
  ASSERT_NE(nullptr, tree);
  MessageRecorder recorder(tree);
  char itemText[] = "Posteingang";
  TVINSERTSTRUCTA insert{};
  insert.hParent = TVI_ROOT;
  insert.hInsertAfter = TVI_SORT;
  insert.item.mask = TVIF_TEXT;
  insert.item.pszText = itemText;
  LRESULT item = BridgeSendMessage(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert));
  ASSERT_NE(0, item);
  EXPECT_EQ(1, recorder.Count(TVM_INSERTITEMA));
  EXPECT_EQ(0, recorder.Count(TVM_INSERTITEMW));
  wchar_t readBack[32] = {};  // the control took the text as narrow text
  TVITEMW query{TVIF_TEXT, reinterpret_cast<HTREEITEM>(item), 0, 0, readBack, 32};
  ASSERT_TRUE(SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query)));
  EXPECT_STREQ(L"Posteingang", readBack);
}

TEST(BridgeNarrowPath, CreateFileRefusesPathsItCannotCarry) {
  kvtest::TempDirectory directory;
  ScopedNarrowCalls narrow;
  const struct {
    std::wstring path;
    DWORD error;
  } cases[] = {
      {L"C:\\" + std::wstring(517, L'a'), ERROR_FILENAME_EXCED_RANGE},    // 520 bytes with the terminator
      {directory.File(L"\U00010348.tmp"), ERROR_NO_UNICODE_TRANSLATION},  // not in the code page
      {directory.File(L"\u0100.tmp"), ERROR_NO_UNICODE_TRANSLATION},      // only a best fit: another file
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              BridgeCreateFile(c.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(c.error, GetLastError());
  }
  const std::wstring ascii = directory.File(L"ascii.tmp");  // and a plain path works
  HANDLE file = BridgeCreateFile(ascii.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
}

// Run in a process with code page 932 (see kv2fold/platform/CMakeLists.txt).
TEST(BridgeDoubleByte, CountsAreBytesAndTheTextArrivesWhole) {
  KV_REQUIRE_DOUBLE_BYTE_CODE_PAGE();
  HiddenWindow window;
  ScopedNarrowCalls narrow;
  const wchar_t* text = L"\u65e5\u672c\u8a9e\u306e\u5831\u544a\u66f8";  // seven characters, fourteen bytes
  ASSERT_TRUE(BridgeSetWindowText(window.edit, text));
  EXPECT_EQ(text, window.Text());
  wchar_t buffer[32];
  EXPECT_EQ(14, BridgeGetWindowTextLength(window.edit));
  EXPECT_EQ(14, BridgeGetWindowText(window.edit, buffer, 32));
  EXPECT_STREQ(text, buffer);
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(14, BridgeSendMessage(window.edit, WM_GETTEXT, 32, reinterpret_cast<LPARAM>(buffer)));
  EXPECT_STREQ(text, buffer);
  char* copy = nullptr;
  EXPECT_EQ(15, NarrowDup(text, &copy, CP_ACP));
  ModuleFree(copy);
  // Room for four bytes: two characters copied, four bytes counted.
  EXPECT_EQ(4, BridgeGetWindowText(window.edit, buffer, 5));
  EXPECT_STREQ(L"\u65e5\u672c", buffer);
}
