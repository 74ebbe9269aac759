// The character-width bridge on both of its paths: the wide one that NT (and
// Wine) takes by itself, and the narrow one of Windows 95/98/Me, forced here
// with ScopedNarrowCalls. Real windows and controls, hidden, under Xvfb.
#define OEMRESOURCE
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/bridge.h"
#include "platform/tests/test_support.h"
#include "platform/wide_text.h"

using kvtest::ScopedNarrowCalls;

namespace {

constexpr int kEditId = 101;
constexpr WORD kNumericDialogId = 27201;  // bridge_test.rc
constexpr wchar_t kNamedDialog[] = L"KVBRIDGETESTDIALOG";

HMENU ControlId(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

// A hidden top-level window holding one edit control.
class HiddenWindow {
 public:
  HiddenWindow() {
    frame_ = CreateWindowExW(0, L"STATIC", L"kvtest", WS_OVERLAPPEDWINDOW, 0, 0, 300, 120, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 280, 24, frame_, ControlId(kEditId),
                            GetModuleHandleW(nullptr), nullptr);
  }
  ~HiddenWindow() { DestroyWindow(frame_); }
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;

  HWND frame() const { return frame_; }
  HWND edit() const { return edit_; }
  std::wstring EditText() const {
    wchar_t text[256] = {};
    GetWindowTextW(edit_, text, 256);
    return text;
  }

 private:
  HWND frame_ = nullptr;
  HWND edit_ = nullptr;
};

// Records the message numbers a window receives and passes every message on.
class MessageRecorder {
 public:
  explicit MessageRecorder(HWND window) : window_(window) {
    active_ = this;
    original_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MessageRecorder::Record)));
  }
  ~MessageRecorder() {
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    active_ = nullptr;
  }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  long Count(UINT message) const { return static_cast<long>(std::count(seen_.begin(), seen_.end(), message)); }

 private:
  static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    active_->seen_.push_back(message);
    return CallWindowProcW(active_->original_, window, message, wParam, lParam);
  }

  static MessageRecorder* active_;
  HWND window_;
  WNDPROC original_ = nullptr;
  std::vector<UINT> seen_;
};
MessageRecorder* MessageRecorder::active_ = nullptr;

// Ends the dialog at once with 42 and notes whether it runs as a wide window.
struct DialogProbe {
  int initialised = 0;
  BOOL unicode = -1;
};
INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  auto* probe = reinterpret_cast<DialogProbe*>(lParam);
  ++probe->initialised;
  probe->unicode = IsWindowUnicode(dialog);
  EndDialog(dialog, 42);
  return TRUE;
}

bool RegisterTreeViewClass() {
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  HMODULE comctl = LoadLibraryW(L"comctl32.dll");
  auto init = reinterpret_cast<InitFunction>(GetProcAddress(comctl, "InitCommonControlsEx"));
  INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_TREEVIEW_CLASSES};
  return init && init(&classes);
}

int NarrowByteCount(const wchar_t* text) {
  return WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr) - 1;
}

}  // namespace

TEST(BridgePlatform, WineIsAnNtSystemSoTheWidePathIsChosenAtLoad) {
  EXPECT_FALSE(IsNarrowPlatform());
  EXPECT_FALSE(g_UseNarrowCalls);
}

TEST(BridgeConversion, CopiesReturnTheirSizeWithTheTerminator) {
  struct NarrowCase {
    const wchar_t* source;
    UINT codePage;
    int expected;
    const char* text;
  };
  const NarrowCase narrowCases[] = {
      {L"Profil", CP_ACP, 7, "Profil"},
      {L"", CP_ACP, 1, ""},
      {L"\u00fc#\u00e4", CP_UTF8, 6, "\xC3\xBC#\xC3\xA4"},  // the code page argument is used
      {nullptr, CP_ACP, 0, nullptr},
  };
  for (const NarrowCase& c : narrowCases) {
    char* copy = reinterpret_cast<char*>(0xdeadbeef);
    EXPECT_EQ(c.expected, NarrowDup(c.source, &copy, c.codePage)) << "expected for case " << c.expected;
    if (c.text) {
      ASSERT_NE(nullptr, copy);
      EXPECT_STREQ(c.text, copy);
    } else {
      EXPECT_EQ(nullptr, copy) << "a null source must leave no copy";
    }
    ModuleFree(copy);
  }

  wchar_t* wide = reinterpret_cast<wchar_t*>(0xdeadbeef);
  EXPECT_EQ(7, WideDup("Ordner", &wide));
  ASSERT_NE(nullptr, wide);
  EXPECT_STREQ(L"Ordner", wide);
  ModuleFree(wide);
  wide = reinterpret_cast<wchar_t*>(0xdeadbeef);
  EXPECT_EQ(0, WideDup(nullptr, &wide));
  EXPECT_EQ(nullptr, wide);
}

// Behaviour that callers rely on whichever path the bridge takes.
class BridgeBothPaths : public testing::TestWithParam<bool> {
 protected:
  bool narrow() const { return GetParam(); }
  ScopedNarrowCalls path_{GetParam()};
  HiddenWindow window_;
};

TEST_P(BridgeBothPaths, WindowTextRoundTrip) {
  ASSERT_TRUE(BridgeSetWindowText(window_.edit(), L"Posteingang#Berichte"));
  EXPECT_EQ(L"Posteingang#Berichte", window_.EditText());
  EXPECT_EQ(20, BridgeGetWindowTextLength(window_.edit()));
  wchar_t text[64];
  std::fill(std::begin(text), std::end(text), L'#');
  EXPECT_EQ(20, BridgeGetWindowText(window_.edit(), text, 64));
  EXPECT_STREQ(L"Posteingang#Berichte", text);
}

TEST_P(BridgeBothPaths, ShortBufferGetsTheCutTextTerminated) {
  SetWindowTextW(window_.edit(), L"abcdef");
  wchar_t text[8];
  std::fill(std::begin(text), std::end(text), L'#');
  EXPECT_EQ(3, BridgeGetWindowText(window_.edit(), text, 4));
  EXPECT_STREQ(L"abc", text);
  EXPECT_EQ(L'#', text[4]) << "nothing may be written beyond the capacity";
}

TEST_P(BridgeBothPaths, DialogItemTextGoesThroughTheControl) {
  EXPECT_TRUE(BridgeSetDlgItemText(window_.frame(), kEditId, L"Bericht"));
  EXPECT_EQ(L"Bericht", window_.EditText());
  wchar_t text[32] = {};
  EXPECT_EQ(7u, BridgeGetDlgItemText(window_.frame(), kEditId, text, 32));
  EXPECT_STREQ(L"Bericht", text);
  // The text message itself, as the folder dialog sends it.
  std::fill(std::begin(text), std::end(text), L'#');
  EXPECT_EQ(7, BridgeSendMessage(window_.edit(), WM_GETTEXT, 32, reinterpret_cast<LPARAM>(text)));
  EXPECT_STREQ(L"Bericht", text);
}

TEST_P(BridgeBothPaths, MissingControlIsAnInvalidHandle) {
  wchar_t text[8] = {L'#', L'\0'};
  SetLastError(0xdeadbeef);
  EXPECT_EQ(0u, BridgeGetDlgItemText(window_.frame(), 999, text, 8));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_EQ(L'#', text[0]);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(BridgeSetDlgItemText(window_.frame(), 999, L"x"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_P(BridgeBothPaths, SetTextMessageWithoutTextEmptiesTheControl) {
  SetWindowTextW(window_.edit(), L"alt");
  EXPECT_TRUE(BridgeSendMessage(window_.edit(), WM_SETTEXT, 0, 0));
  EXPECT_EQ(L"", window_.EditText());
}

TEST_P(BridgeBothPaths, CharUpperWorksInPlace) {
  wchar_t extension[] = L"ipm.document.rpt";
  EXPECT_EQ(extension, BridgeCharUpper(extension));
  EXPECT_STREQ(L"IPM.DOCUMENT.RPT", extension);
  wchar_t german[] = L"gr\u00fc\u00dfe";
  EXPECT_EQ(german, BridgeCharUpper(german));
  EXPECT_STREQ(L"GR\u00dc\u00dfE", german);
  // The single-character form: the character travels in the pointer's low word.
  LPWSTR upper = BridgeCharUpper(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(L'q')));
  EXPECT_EQ(static_cast<ULONG_PTR>(L'Q'), reinterpret_cast<ULONG_PTR>(upper));
}

TEST_P(BridgeBothPaths, DialogTemplatesByNumberAndByName) {
  const struct {
    LPCWSTR dialogTemplate;
    INT_PTR expected;
  } cases[] = {
      {MAKEINTRESOURCEW(kNumericDialogId), 42},  // a number must reach the system unchanged
      {kNamedDialog, 42},
      {L"KVNOSUCHDIALOG", -1},
  };
  for (const auto& c : cases) {
    DialogProbe probe;
    EXPECT_EQ(c.expected, BridgeDialogBoxParam(GetModuleHandleW(nullptr), c.dialogTemplate, window_.frame(),
                                               EndAtOnce, reinterpret_cast<LPARAM>(&probe)));
    if (c.expected == 42) {
      EXPECT_EQ(1, probe.initialised);
      EXPECT_EQ(narrow() ? FALSE : TRUE, probe.unicode) << "DialogBoxParamA makes a narrow dialog";
    }
  }
}

TEST_P(BridgeBothPaths, NumericSystemBitmapLoads) {
  HBITMAP bitmap = BridgeLoadBitmap(nullptr, MAKEINTRESOURCEW(OBM_CHECK));
  ASSERT_NE(nullptr, bitmap);
  BITMAP info{};
  EXPECT_EQ(static_cast<int>(sizeof(info)), GetObjectW(bitmap, sizeof(info), &info));
  EXPECT_GT(info.bmWidth, 0);
  DeleteObject(bitmap);
}

TEST_P(BridgeBothPaths, CreateWindowMakesANamedClassWindow) {
  HWND edit = BridgeCreateWindow(L"EDIT", L"Anfang", WS_CHILD, 0, 30, 100, 20, window_.frame(), ControlId(102),
                                 GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(nullptr, edit);
  wchar_t text[16] = {};
  GetWindowTextW(edit, text, 16);
  EXPECT_STREQ(L"Anfang", text);
  EXPECT_EQ(GetDlgItem(window_.frame(), 102), edit);
  EXPECT_EQ(narrow() ? FALSE : TRUE, IsWindowUnicode(edit)) << "CreateWindowExA makes a narrow window";
}

TEST_P(BridgeBothPaths, CreateFileOpensAsciiPaths) {
  kvtest::TempDirectory directory;
  std::wstring path = directory.File(L"bridge.tmp");
  HANDLE file = BridgeCreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  CloseHandle(file);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(3u, data.nFileSizeLow);
}

INSTANTIATE_TEST_SUITE_P(Paths, BridgeBothPaths, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& path) { return path.param ? "Narrow" : "Wide"; });

TEST(BridgeNarrowPath, GetTextWithoutRoomSendsNothing) {
  HiddenWindow window;
  SetWindowTextW(window.edit(), L"Inhalt");
  MessageRecorder recorder(window.edit());
  wchar_t text[4] = {L'#', L'#', L'#', L'#'};
  {
    ScopedNarrowCalls narrow;
    EXPECT_EQ(0, BridgeSendMessage(window.edit(), WM_GETTEXT, 0, reinterpret_cast<LPARAM>(text)));
  }
  EXPECT_EQ(0, recorder.Count(WM_GETTEXT));
  EXPECT_EQ(L'#', text[0]);
  // The recorder does see the message when it is sent.
  BridgeSendMessage(window.edit(), WM_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_EQ(1, recorder.Count(WM_GETTEXT));
}

TEST(BridgeNarrowPath, SetWindowTextWithoutTextIsRefusedUnsent) {
  HiddenWindow window;
  SetWindowTextW(window.edit(), L"bleibt");
  ScopedNarrowCalls narrow;
  EXPECT_FALSE(BridgeSetWindowText(window.edit(), nullptr));
  EXPECT_EQ(L"bleibt", window.EditText());
}

TEST(BridgeNarrowPath, TreeInsertArrivesAsTheNarrowMessage) {
  ASSERT_TRUE(RegisterTreeViewClass());
  HiddenWindow window;
  ScopedNarrowCalls narrow;
  HWND tree = BridgeCreateWindow(WC_TREEVIEWW, nullptr, WS_CHILD | TVS_HASLINES, 0, 0, 200, 100, window.frame(),
                                 ControlId(103), GetModuleHandleW(nullptr), nullptr);
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

  // The control took the item's text as narrow text.
  wchar_t readBack[32] = {};
  TVITEMW query{};
  query.mask = TVIF_TEXT;
  query.hItem = reinterpret_cast<HTREEITEM>(item);
  query.pszText = readBack;
  query.cchTextMax = 32;
  ASSERT_TRUE(SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query)));
  EXPECT_STREQ(L"Posteingang", readBack);
  EXPECT_EQ(1, SendMessageW(tree, TVM_GETCOUNT, 0, 0));
}

TEST(BridgeNarrowPath, CreateFileRefusesPathsItCannotCarry) {
  kvtest::TempDirectory directory;
  ScopedNarrowCalls narrow;
  const struct {
    std::wstring path;
    DWORD error;
  } cases[] = {
      // 520 bytes and more do not fit the narrow path buffer.
      {L"C:\\" + std::wstring(517, L'a'), ERROR_FILENAME_EXCED_RANGE},
      // A character the code page lacks (or only approximates) would name another file.
      {directory.File(L"\U00010348.tmp"), ERROR_NO_UNICODE_TRANSLATION},
      {directory.File(L"\u0100.tmp"), ERROR_NO_UNICODE_TRANSLATION},
  };
  for (const auto& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              BridgeCreateFile(c.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(c.error, GetLastError()) << "path of " << c.path.size() << " characters";
  }
}

// Run by the double-byte test in a Japanese locale (code page 932).
class BridgeDoubleByte : public testing::Test {
 protected:
  void SetUp() override {
    if (!kvtest::HasDoubleByteCodePage()) {
      if (kvtest::DoubleByteCodePageRequired()) FAIL() << "the ANSI code page " << GetACP() << " is not double-byte";
      GTEST_SKIP() << "the ANSI code page " << GetACP() << " is single-byte";
    }
  }
  ScopedNarrowCalls narrow_;
  HiddenWindow window_;
};

TEST_F(BridgeDoubleByte, TextCountsAreBytesAndTheTextArrivesWhole) {
  const wchar_t* text = L"\u65e5\u672c\u8a9e\u306e\u5831\u544a\u66f8";  // seven characters
  const int bytes = NarrowByteCount(text);
  ASSERT_EQ(14, bytes) << "two bytes per character in code page " << GetACP();
  ASSERT_TRUE(BridgeSetWindowText(window_.edit(), text));
  EXPECT_EQ(text, window_.EditText());

  wchar_t buffer[32];
  EXPECT_EQ(bytes, BridgeGetWindowTextLength(window_.edit()));
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(bytes, BridgeGetWindowText(window_.edit(), buffer, 32));
  EXPECT_STREQ(text, buffer);
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(bytes, BridgeSendMessage(window_.edit(), WM_GETTEXT, 32, reinterpret_cast<LPARAM>(buffer)));
  EXPECT_STREQ(text, buffer);
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(static_cast<UINT>(bytes), BridgeGetDlgItemText(window_.frame(), kEditId, buffer, 32));
  EXPECT_STREQ(text, buffer);

  char* narrowCopy = nullptr;
  EXPECT_EQ(bytes + 1, NarrowDup(text, &narrowCopy, CP_ACP));
  ModuleFree(narrowCopy);
}

TEST_F(BridgeDoubleByte, CutTextReportsMoreBytesThanCharactersCopied) {
  SetWindowTextW(window_.edit(), L"\u65e5\u672c\u8a9e");
  wchar_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  int result = BridgeGetWindowText(window_.edit(), buffer, 5);  // room for 4 bytes: two characters
  EXPECT_EQ(4, result);
  EXPECT_STREQ(L"\u65e5\u672c", buffer);
  EXPECT_GT(result, static_cast<int>(wcslen(buffer)));
}
