#include "platform/bridge.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <cwchar>

#include "platform/wide_text.h"

namespace {

// Filled by the first IsNarrowPlatform; a size field of 0 means not queried yet.
OSVERSIONINFOA g_VersionInfo;
static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record's size marks it as filled");

using NarrowText = ModuleBlock<char>;
using WideText = ModuleBlock<wchar_t>;

// Resource names and class names below 0x10000 are numbers, not addresses.
bool IsNumericIdentifier(LPCWSTR name) noexcept { return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0; }

// The narrow form of a name argument: numeric identifiers and null pass
// unchanged, real names are converted into a copy that this object owns.
class NarrowName {
 public:
  bool Convert(LPCWSTR name) noexcept {
    if (IsNumericIdentifier(name)) {
      value_ = reinterpret_cast<LPCSTR>(name);
      return true;
    }
    if (NarrowDup(name, copy_.put(), CP_ACP) == 0) return false;
    value_ = copy_.get();
    return true;
  }
  LPCSTR get() const noexcept { return value_; }

 private:
  NarrowText copy_;
  LPCSTR value_ = nullptr;
};

// Upper-cases text through its narrow form and writes the result back over
// it, at most capacity characters including the terminator.
bool UpperThroughNarrow(wchar_t* text, size_t capacity) noexcept {
  NarrowText narrow;
  if (NarrowDup(text, narrow.put(), CP_ACP) == 0) return false;
  CharUpperA(narrow.get());
  WideText wide;
  if (WideDup(narrow.get(), wide.put()) == 0) return false;
  CopyWide(text, capacity, wide.get(), capacity);
  return true;
}

LRESULT SendGetTextNarrow(HWND window, WPARAM capacity, LPARAM buffer) noexcept {
  if (capacity == 0) return 0;
  if (capacity >= static_cast<WPARAM>(INT_MAX)) capacity = INT_MAX - 1;  // keeps capacity + 1 in range
  NarrowText narrow(static_cast<char*>(ModuleAlloc(capacity + 1)));
  if (!narrow) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  LRESULT result = SendMessageA(window, WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(narrow.get()));
  narrow.get()[capacity] = '\0';
  if (result == 0) return 0;
  WideText wide;
  int converted = WideDup(narrow.get(), wide.put());
  if (converted == 0) return 0;
  size_t target = std::min(static_cast<size_t>(converted), static_cast<size_t>(capacity));
  CopyWide(reinterpret_cast<wchar_t*>(buffer), target, wide.get(), target);
  return result;
}

LRESULT SendSetTextNarrow(HWND window, WPARAM wParam, LPARAM text) noexcept {
  if (text == 0) return SendMessageA(window, WM_SETTEXT, wParam, 0);
  NarrowText narrow;
  if (NarrowDup(reinterpret_cast<LPCWSTR>(text), narrow.put(), CP_ACP) == 0) return 0;
  return SendMessageA(window, WM_SETTEXT, wParam, reinterpret_cast<LPARAM>(narrow.get()));
}

}  // namespace

BOOL IsNarrowPlatform() noexcept {
  if (g_VersionInfo.dwOSVersionInfoSize == 0) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // deprecated, but the platform identifier is all we ask of it
#endif
    if (GetVersionExA(&info)) g_VersionInfo = info;
  }
  return g_VersionInfo.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? TRUE : FALSE;
}

BOOLEAN g_UseNarrowCalls = IsNarrowPlatform() ? TRUE : FALSE;

int NarrowDup(const wchar_t* source, char** copy, UINT codePage) noexcept {
  if (!copy) return 0;
  *copy = nullptr;
  if (!source) return 0;
  int size = WideCharToMultiByte(codePage, 0, source, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return 0;
  NarrowText narrow(static_cast<char*>(ModuleAlloc(static_cast<size_t>(size))));
  if (!narrow) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (WideCharToMultiByte(codePage, 0, source, -1, narrow.get(), size, nullptr, nullptr) != size) return 0;
  *copy = narrow.release();
  return size;
}

int WideDup(const char* source, wchar_t** copy) noexcept {
  if (!copy) return 0;
  *copy = nullptr;
  if (!source) return 0;
  int count = MultiByteToWideChar(CP_ACP, 0, source, -1, nullptr, 0);
  if (count <= 0) return 0;
  WideText wide(static_cast<wchar_t*>(ModuleAlloc((static_cast<size_t>(count) + 1) * sizeof(wchar_t))));
  if (!wide) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (MultiByteToWideChar(CP_ACP, 0, source, -1, wide.get(), count + 1) != count) return 0;
  *copy = wide.release();
  return count;
}

LPWSTR BridgeCharUpper(LPWSTR text) noexcept {
  if (!g_UseNarrowCalls) return CharUpperW(text);
  if (IsNumericIdentifier(text)) {
    // CharUpper's single-character form: the character is in the low word.
    wchar_t single[2] = {static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(text)), L'\0'};
    if (single[0] == L'\0') return text;
    if (!UpperThroughNarrow(single, 2)) return nullptr;
    return reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(single[0]));
  }
  return UpperThroughNarrow(text, wcslen(text) + 1) ? text : nullptr;
}

HANDLE BridgeCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                        DWORD flags, HANDLE templateFile) noexcept {
  if (!g_UseNarrowCalls) return CreateFileW(path, access, share, security, disposition, flags, templateFile);
  if (!path) return CreateFileA(nullptr, access, share, security, disposition, flags, templateFile);
  char narrowPath[520];
  // A path with characters that the code page lacks or only approximates
  // (best fit) would name some other file; UTF-8 holds every character.
  const bool utf8 = GetACP() == CP_UTF8;
  BOOL usedDefault = FALSE;
  int size = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, path, -1, narrowPath, sizeof(narrowPath),
                                 nullptr, utf8 ? nullptr : &usedDefault);
  if (size == 0) {
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  if (usedDefault) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return INVALID_HANDLE_VALUE;
  }
  narrowPath[sizeof(narrowPath) - 1] = '\0';
  return CreateFileA(narrowPath, access, share, security, disposition, flags, templateFile);
}

HWND BridgeCreateWindow(LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width, int height,
                        HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID parameter) noexcept {
  if (!g_UseNarrowCalls) {
    return CreateWindowExW(0, className, windowName, style, x, y, width, height, parent, menuOrId, instance, parameter);
  }
  NarrowName narrowClass;
  NarrowName narrowWindowName;
  if (!narrowClass.Convert(className) || !narrowWindowName.Convert(windowName)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return CreateWindowExA(0, narrowClass.get(), narrowWindowName.get(), style, x, y, width, height, parent, menuOrId,
                         instance, parameter);
}

INT_PTR BridgeDialogBoxParam(HINSTANCE instance, LPCWSTR dialogTemplate, HWND parent, DLGPROC procedure,
                             LPARAM parameter) noexcept {
  if (!g_UseNarrowCalls) return DialogBoxParamW(instance, dialogTemplate, parent, procedure, parameter);
  NarrowName narrowTemplate;
  if (!narrowTemplate.Convert(dialogTemplate)) return -1;
  return DialogBoxParamA(instance, narrowTemplate.get(), parent, procedure, parameter);
}

int BridgeGetWindowTextLength(HWND window) noexcept {
  return g_UseNarrowCalls ? GetWindowTextLengthA(window) : GetWindowTextLengthW(window);
}

int BridgeGetWindowText(HWND window, LPWSTR buffer, int capacity) noexcept {
  if (!g_UseNarrowCalls) return GetWindowTextW(window, buffer, capacity);
  if (capacity <= 0) return 0;
  NarrowText narrow(static_cast<char*>(ModuleAlloc(static_cast<size_t>(capacity) + 1)));
  if (!narrow) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  int result = GetWindowTextA(window, narrow.get(), capacity);
  narrow.get()[capacity - 1] = '\0';
  if (result <= 0) return 0;
  WideText wide;
  if (WideDup(narrow.get(), wide.put()) == 0) return 0;
  CopyWide(buffer, static_cast<size_t>(capacity), wide.get(), static_cast<size_t>(capacity));
  return result;  // bytes: more than the characters copied for double-byte text
}

HBITMAP BridgeLoadBitmap(HINSTANCE instance, LPCWSTR bitmapName) noexcept {
  if (!g_UseNarrowCalls) return LoadBitmapW(instance, bitmapName);
  NarrowName narrowName;
  if (!narrowName.Convert(bitmapName)) return nullptr;
  return LoadBitmapA(instance, narrowName.get());
}

LRESULT BridgeSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (!g_UseNarrowCalls) return SendMessageW(window, message, wParam, lParam);
  switch (message) {
    case WM_SETTEXT:
      return SendSetTextNarrow(window, wParam, lParam);
    case WM_GETTEXT:
      return SendGetTextNarrow(window, wParam, lParam);
    case TVM_INSERTITEMW:
    case TVM_INSERTITEMA:
      // The caller has already put narrow text into the item.
      return SendMessageA(window, TVM_INSERTITEMA, wParam, lParam);
    default:
      return SendMessageA(window, message, wParam, lParam);
  }
}

BOOL BridgeSetWindowText(HWND window, LPCWSTR text) noexcept {
  if (!g_UseNarrowCalls) return SetWindowTextW(window, text);
  if (!text) return FALSE;
  NarrowText narrow;
  if (NarrowDup(text, narrow.put(), CP_ACP) == 0) return FALSE;
  return SetWindowTextA(window, narrow.get());
}
