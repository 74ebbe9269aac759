#include "setup_diagnosis.h"

#include <mapix.h>

#include <kvcommon/unique_resource.h>

#include "../resources/resource_ids.h"
#include "interface/kve_api.h"
#include "messages.h"
#include "output.h"

namespace {

// A string of a block at a byte offset, within the block's bytes.
template <typename Char>
bool StringAt(const std::vector<BYTE>& block, uint32_t offset, std::wstring& text) {
  if (offset == 0 || offset >= block.size()) return false;
  const auto* first = reinterpret_cast<const Char*>(block.data() + offset);
  const size_t most = (block.size() - offset) / sizeof(Char);
  size_t length = 0;
  while (length < most && first[length] != 0) ++length;
  if (length == most) return false;
  if (sizeof(Char) == sizeof(wchar_t)) {
    text.assign(reinterpret_cast<const wchar_t*>(first), length);
  } else {
    const auto* narrow = reinterpret_cast<const char*>(first);
    const int wide = MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(length), nullptr, 0);
    text.assign(static_cast<size_t>(wide), L'\0');
    if (wide > 0) MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(length), &text[0], wide);
  }
  return true;
}

enum class LogonAnswer { Refused, Accepted, Failed };

// A silent logon as the module makes one, then logoff. code: MAPI's answer.
LogonAnswer TryLogon(const SetupLogon& logon, HRESULT& code) {
  code = S_OK;
  kvcommon::UniqueModule mapi(LoadLibraryW(L"MAPI32.DLL"));
  if (!mapi) return LogonAnswer::Failed;
  auto initialize = reinterpret_cast<decltype(&::MAPIInitialize)>(GetProcAddress(mapi.get(), "MAPIInitialize"));
  auto uninitialize =
      reinterpret_cast<decltype(&::MAPIUninitialize)>(GetProcAddress(mapi.get(), "MAPIUninitialize"));
  auto logonEx = reinterpret_cast<decltype(&::MAPILogonEx)>(GetProcAddress(mapi.get(), "MAPILogonEx"));
  if (!initialize || !uninitialize || !logonEx) return LogonAnswer::Failed;
  code = initialize(nullptr);
  if (code < 0) return LogonAnswer::Failed;
  IMAPISession* session = nullptr;
  code = logonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(logon.profile.c_str())),
                 logon.hasPassword ? reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(logon.password.c_str())) : nullptr,
                 MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL | MAPI_UNICODE, &session);
  if (session) {
    session->Logoff(0, 0, 0);
    session->Release();
  }
  uninitialize();
  if (code == MAPI_E_LOGON_FAILED) return LogonAnswer::Refused;
  return code < 0 ? LogonAnswer::Failed : LogonAnswer::Accepted;
}

}  // namespace

SetupLogon LogonOfDestination(const DestinationOptions& destination, const std::vector<BYTE>& block, bool narrow) {
  SetupLogon logon;
  if (destination.choose) return logon;
  if (destination.optionsFile.empty()) {
    logon.known = true;
    logon.profile = destination.profile;
    logon.hasPassword = destination.passwordGiven;
    logon.password = destination.password;
    return logon;
  }
  if (block.size() < sizeof(KVEDestinationOptions)) return logon;
  const auto* record = reinterpret_cast<const KVEDestinationOptions*>(block.data());
  // Offsets, not pointers, in a saved block of this build's layout.
  const auto profileOffset = static_cast<uint32_t>(record->profileName.offset);
  const auto passwordOffset = static_cast<uint32_t>(record->password.offset);
  logon.known = narrow ? StringAt<char>(block, profileOffset, logon.profile)
                       : StringAt<wchar_t>(block, profileOffset, logon.profile);
  logon.hasPassword = narrow ? StringAt<char>(block, passwordOffset, logon.password)
                             : StringAt<wchar_t>(block, passwordOffset, logon.password);
  return logon;
}

void ExplainFailedSetup(const SetupLogon& logon, const Messages& messages, Output& err) {
  if (!logon.known) {
    err.Write(messages.Text(IDS_SETUP_FAILED_CHOSEN));
    return;
  }
  HRESULT code = S_OK;
  switch (TryLogon(logon, code)) {
    case LogonAnswer::Refused:
      err.Write(messages.Format(IDS_SETUP_LOGON_REFUSED, logon.profile.c_str()));
      break;
    case LogonAnswer::Accepted:
      err.Write(messages.Format(IDS_SETUP_AFTER_LOGON, logon.profile.c_str()));
      break;
    case LogonAnswer::Failed:
      err.Write(messages.Format(IDS_SETUP_LOGON_FAILED, logon.profile.c_str(), static_cast<unsigned>(code)));
      break;
  }
}
