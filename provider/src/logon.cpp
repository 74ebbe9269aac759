// MAPILogonEx: finds the profile in the profiles file, checks its password,
// shows the profile chooser when the caller allows a dialog, and creates the
// session (whose server stores log on with the password given).
#include <windows.h>

#include <mapix.h>

#include <string>

#include "diagnostics.h"
#include "files.h"
#include "properties.h"
#include "resource_ids.h"
#include "session.h"

namespace provider {

long InitializeCount();

namespace {

struct ChooserState {
  const ProfilesFile* file;
  std::wstring preselected;
  const ProfileConfig* chosen = nullptr;
  std::wstring password;  // what was typed: a server store logs on with it
};

bool PasswordMatches(const ProfileConfig& profile, const std::wstring& password) {
  return profile.password.empty() || profile.password == password;
}

INT_PTR CALLBACK ChooserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  // Nothing may unwind through user32.
  try {
    ChooserState* state = reinterpret_cast<ChooserState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
      case WM_INITDIALOG: {
        state = reinterpret_cast<ChooserState*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        HWND list = GetDlgItem(dialog, IDC_PROFILE_LIST);
        int selection = 0;
        for (size_t i = 0; i < state->file->profiles.size(); ++i) {
          const ProfileConfig& profile = state->file->profiles[i];
          SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(profile.name.c_str()));
          if (profile.name == state->preselected) selection = static_cast<int>(i);
        }
        SendMessageW(list, LB_SETCURSEL, selection, 0);
        return TRUE;
      }
      case WM_COMMAND:
        if (!state) return FALSE;
        if (LOWORD(wParam) == IDOK) {
          HWND list = GetDlgItem(dialog, IDC_PROFILE_LIST);
          LRESULT index = SendMessageW(list, LB_GETCURSEL, 0, 0);
          if (index < 0) return TRUE;
          // The list is unsorted, so its indices are those of the file's profiles.
          const ProfileConfig& profile = state->file->profiles[static_cast<size_t>(index)];
          int length = GetWindowTextLengthW(GetDlgItem(dialog, IDC_PASSWORD));
          std::wstring password(static_cast<size_t>(length) + 1, L'\0');
          GetDlgItemTextW(dialog, IDC_PASSWORD, &password[0], length + 1);
          password.resize(static_cast<size_t>(length));
          if (!PasswordMatches(profile, password)) {
            SetDlgItemTextW(dialog, IDC_CHOOSER_MESSAGE, LoadProviderText(IDS_WRONG_PASSWORD).c_str());
            MessageBeep(MB_ICONWARNING);
            return TRUE;
          }
          state->chosen = &profile;
          state->password = password;
          EndDialog(dialog, IDOK);
          return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        }
        if (LOWORD(wParam) == IDC_PROFILE_LIST && HIWORD(wParam) == LBN_DBLCLK) {
          PostMessageW(dialog, WM_COMMAND, IDOK, 0);
          return TRUE;
        }
        return FALSE;
      default:
        return FALSE;
    }
  } catch (...) {
    EndDialog(dialog, -1);
    return TRUE;
  }
}

HRESULT Logon(ULONG_PTR uiParam, const void* profileArgument, const void* passwordArgument, ULONG flags,
              LPMAPISESSION* session) {
  if (!session) return MAPI_E_INVALID_PARAMETER;
  *session = nullptr;
  if (InitializeCount() <= 0) return MAPI_E_NOT_INITIALIZED;
  bool unicode = (flags & MAPI_UNICODE) != 0;
  bool dialogAllowed = (flags & MAPI_LOGON_UI) != 0;
  std::wstring profileName = TextArgument(profileArgument, unicode);
  std::wstring password = TextArgument(passwordArgument, unicode);

  std::wstring path = ProfilesFilePath();
  ProfilesFile file;
  switch (LoadProfiles(path, file, nullptr)) {
    case ProfilesStatus::Ok:
    case ProfilesStatus::Missing:
      break;
    default:
      return MAPI_E_CORRUPT_DATA;
  }

  const ProfileConfig* chosen = nullptr;
  std::wstring wanted = profileName.empty() ? file.defaultProfile : profileName;
  if (!wanted.empty()) {
    const ProfileConfig* found = file.Find(wanted);
    if (found && PasswordMatches(*found, password)) chosen = found;
  }
  if (!chosen) {
    if (!dialogAllowed || file.profiles.empty()) return MAPI_E_LOGON_FAILED;
    ChooserState state;
    state.file = &file;
    const ProfileConfig* preselect = wanted.empty() ? nullptr : file.Find(wanted);
    if (preselect) state.preselected = preselect->name;
    INT_PTR answer = DialogBoxParamW(ProviderModule(), MAKEINTRESOURCEW(IDD_PROFILE_CHOOSER),
                                     reinterpret_cast<HWND>(uiParam), ChooserProc, reinterpret_cast<LPARAM>(&state));
    if (answer == IDCANCEL) return MAPI_E_USER_CANCEL;
    if (answer != IDOK || !state.chosen) return MAPI_E_LOGON_FAILED;
    chosen = state.chosen;
    password = state.password;
  }

  std::shared_ptr<SessionState> state;
  HRESULT hr = CreateSessionState(*chosen, path, password, state);
  if (FAILED(hr)) return hr;
  *session = new SessionObject(std::move(state));
  return S_OK;
}

}  // namespace
}  // namespace provider

extern "C" HRESULT WINAPI MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword, ULONG flFlags,
                                      LPMAPISESSION* lppSession) {
  if (lppSession) *lppSession = nullptr;
  return provider::Guard("MAPI", "MAPILogonEx", flFlags,
                         [&] { return provider::Logon(ulUIParam, lpszProfileName, lpszPassword, flFlags, lppSession); });
}
