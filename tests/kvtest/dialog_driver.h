// Drives the module's dialogs the way a person would, from a thread of its
// own while the test's thread sits in the modal dialog: finds a dialog by
// its caption, reads and sets control texts, opens and selects tree items,
// presses keys and buttons, all through window messages. Whatever goes
// wrong is noted as a problem (never an exception); once the person's part
// is over or has failed, any dialog still open is cancelled, so the test's
// thread always gets its answer back.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace kvtest {

class DialogDriver {
 public:
  // Dialogs of threadId; every wait gives up after timeoutMs (a dialog may
  // take seconds to appear under emulation).
  DialogDriver(DWORD threadId, DWORD timeoutMs) : threadId_(threadId), timeoutMs_(timeoutMs) {}

  // The visible dialog (or message box) with this caption.
  HWND Await(const std::wstring& caption) {
    HWND found = nullptr;
    Poll([&] { return (found = Find(caption)) != nullptr; }, "no dialog \"" + Narrow(caption) + "\"");
    return found;
  }
  bool AwaitGone(HWND window) {
    return Poll([&] { return !IsWindow(window) || !IsWindowVisible(window); }, "a dialog stayed open");
  }
  // The thread's visible dialogs and message boxes.
  std::vector<HWND> Dialogs() {
    std::vector<HWND> found;
    EnumThreadWindows(threadId_, Collect, reinterpret_cast<LPARAM>(&found));
    return found;
  }

  static std::wstring Text(HWND window) {
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
  }
  static std::wstring Text(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
  // The message of a message box: its static control with text.
  static std::wstring MessageText(HWND box) {
    std::wstring text;
    EnumChildWindows(box, FirstStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
  }
  static void Type(HWND dialog, int id, const std::wstring& text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  // Posted: a click may open another modal box before it returns.
  static void Click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
  static void Key(HWND window, UINT key) {
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, 0xC0000001);
  }

  // Tree items, by the texts from the root down; each level on the way is
  // opened (TVM_EXPAND, which reads a branch the first time).
  HTREEITEM Item(HWND tree, const std::vector<std::wstring>& path) {
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    for (size_t level = 0; item && level < path.size(); ++level) {
      while (item && ItemText(tree, item) != path[level]) item = Next(tree, item, TVGN_NEXT);
      if (item && level + 1 < path.size()) {
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
        item = Next(tree, item, TVGN_CHILD);
      }
    }
    if (!item) problems.push_back("no tree item " + Narrow(path.back()));
    return item;
  }
  // The texts of an item's children, the item opened first.
  static std::vector<std::wstring> Children(HWND tree, HTREEITEM item) {
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    std::vector<std::wstring> names;
    for (HTREEITEM child = Next(tree, item, TVGN_CHILD); child; child = Next(tree, child, TVGN_NEXT)) {
      names.push_back(ItemText(tree, child));
    }
    return names;
  }
  static std::wstring ItemText(HWND tree, HTREEITEM item) {
    wchar_t text[260] = {};
    TVITEMW query = {};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = text;
    query.cchTextMax = 260;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query));
    return text;
  }
  // The item's expand button: its children count as the control keeps it.
  static int ChildrenFlag(HWND tree, HTREEITEM item) {
    TVITEMW query = {};
    query.mask = TVIF_CHILDREN;
    query.hItem = item;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query));
    return query.cChildren;
  }
  static bool Expanded(HWND tree, HTREEITEM item) {
    return (SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
  }
  static void Select(HWND tree, HTREEITEM item) {
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
  }
  // Opens or closes a branch with the arrow keys, as a person does (each
  // time, the control asks the dialog).
  bool Toggle(HWND tree, HTREEITEM item, bool open) {
    Select(tree, item);
    Key(tree, open ? VK_RIGHT : VK_LEFT);
    return Poll([&] { return Expanded(tree, item) == open; }, "the branch did not open or close");
  }

  // What a person does most: the dialog with this caption, its controls
  // clicked in turn (a radio button, then OK).
  HWND Press(const std::wstring& caption, std::initializer_list<int> ids) {
    HWND dialog = Await(caption);
    for (int id : ids) {
      if (dialog) Click(dialog, id);
    }
    return dialog;
  }
  // Text typed into a dialog's edit control, then a button pressed.
  HWND Answer(const std::wstring& caption, int editId, const std::wstring& text, int button = IDOK) {
    HWND dialog = Await(caption);
    if (!dialog) return nullptr;
    Type(dialog, editId, text);
    Click(dialog, button);
    return dialog;
  }
  // The tree item at path selected, then OK pressed.
  bool Choose(const std::wstring& caption, int treeId, const std::vector<std::wstring>& path) {
    HWND dialog = Await(caption);
    HWND tree = dialog ? GetDlgItem(dialog, treeId) : nullptr;
    HTREEITEM item = tree ? Item(tree, path) : nullptr;
    if (!item) return false;
    Select(tree, item);
    Click(dialog, IDOK);
    return true;
  }
  // A message box read and closed with OK: its message.
  std::wstring Acknowledge(const std::wstring& caption) {
    HWND box = Await(caption);
    if (!box) return L"";
    const std::wstring message = MessageText(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    AwaitGone(box);
    return message;
  }

  template <typename Condition>
  bool Poll(Condition condition, const std::string& problem) {
    for (DWORD start = GetTickCount(); !condition(); Sleep(20)) {
      if (GetTickCount() - start > timeoutMs_) {
        problems.push_back(problem);
        return false;
      }
    }
    return true;
  }

  std::vector<std::string> problems;

 private:
  static HTREEITEM Next(HWND tree, HTREEITEM item, UINT how) {
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
  }
  // A named callback: a lambda cannot become a 32-bit standard-call pointer.
  static BOOL CALLBACK FirstStaticText(HWND child, LPARAM out) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (lstrcmpiW(className, L"Static") != 0 || GetWindowTextLengthW(child) == 0) return TRUE;
    *reinterpret_cast<std::wstring*>(out) = Text(child);
    return FALSE;
  }
  static BOOL CALLBACK Collect(HWND window, LPARAM out) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (IsWindowVisible(window) && lstrcmpW(className, L"#32770") == 0) {
      reinterpret_cast<std::vector<HWND>*>(out)->push_back(window);
    }
    return TRUE;
  }
  HWND Find(const std::wstring& caption) {
    for (HWND dialog : Dialogs()) {
      if (Text(dialog) == caption) return dialog;
    }
    return nullptr;
  }
  static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

  DWORD threadId_;
  DWORD timeoutMs_;
};

// A person at the screen: runs part on a thread of its own against the
// dialogs of the calling thread. Finish, called once the module's call has
// returned, gives what went wrong. When part failed, or ended while a dialog
// was still up for longer than the timeout, every dialog left is cancelled.
class PersonAtTheScreen {
 public:
  explicit PersonAtTheScreen(std::function<void(DialogDriver&)> part, DWORD timeoutMs = 60000)
      : driver_(GetCurrentThreadId(), timeoutMs), thread_([this, part, timeoutMs] {
          part(driver_);
          const DWORD ended = GetTickCount();
          while (!finished_) {
            if (!driver_.problems.empty() || GetTickCount() - ended > timeoutMs) CancelAll();
            Sleep(50);
          }
        }) {}
  ~PersonAtTheScreen() { Finish(); }
  PersonAtTheScreen(const PersonAtTheScreen&) = delete;
  PersonAtTheScreen& operator=(const PersonAtTheScreen&) = delete;

  std::vector<std::string> Finish() {
    finished_ = true;
    if (thread_.joinable()) thread_.join();
    return driver_.problems;
  }

 private:
  void CancelAll() {
    for (HWND dialog : driver_.Dialogs()) PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }

  DialogDriver driver_;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace kvtest
