#include "mapi/session_logon.h"

#include <mapitags.h>

#include <cstring>
#include <utility>

#include "interface/error_text.h"
#include "mapi/mapi_table.h"
#include "resources/resource_ids.h"

namespace {

void ClearIdentity(BinaryValue& entryId, ModuleBlock<wchar_t>& name, BinaryValue& searchKey) noexcept {
  entryId.Clear();
  name.reset();
  searchKey.Clear();
}

// A -1 from the mapping is replaced by the caller's own message.
int MapWithMessage(ExportJob& job, HRESULT result, UINT messageId, const wchar_t* fallback) noexcept {
  int code = MapResult(job, result);
  if (code == KVE_FAILED) SetErrorFromResource(job, messageId, fallback);
  return code;
}

}  // namespace

int LogonProfile(ExportJob& job, const wchar_t* profile, const wchar_t* password) noexcept {
  EndSession(job);
  const ULONG flags = job.silent ? kSilentLogonFlags : kDialogLogonFlags;
  // MAPI_UNICODE: the two names are wide strings behind MAPI's narrow type.
  HRESULT result = g_MAPIFunctions.MAPILogonEx(
      reinterpret_cast<ULONG_PTR>(GetActiveWindow()), reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(profile)),
      reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(password)), flags, job.session.put());
  if (result < 0) {
    job.session.reset();
    // Fallback text the module carries itself.
    return MapWithMessage(job, result, IDS_LOGON_FAILED, L"Cannot logon to Exchange Profile.");
  }
  result = RetrieveProfileName(job.session.get(), job.profileName, job.identityEntryId, job.identityName,
                               job.identitySearchKey);
  if (result < 0) {
    // Fallback text the module carries itself.
    return MapWithMessage(job, result, IDS_PROFILE_NAME_FAILED, L"Cannot retrieve Exchange profile name.");
  }
  return KVE_OK;
}

void LogoffSession(ExportJob& job) noexcept {
  if (job.session) {
    job.session->Logoff(0, 0, 0);
    job.session.reset();
  }
}

int EndSession(ExportJob& job) noexcept {
  LogoffSession(job);
  job.profileName.reset();
  ClearIdentity(job.identityEntryId, job.identityName, job.identitySearchKey);
  return KVE_OK;
}

HRESULT RetrieveProfileName(IMAPISession* session, ModuleBlock<wchar_t>& profileNameOut, BinaryValue& identityEntryIdOut,
                            ModuleBlock<wchar_t>& identityNameOut, BinaryValue& identitySearchKeyOut) noexcept {
  CMAPITable status;
  SizedSPropTagArray(2, columns) = {2, {PR_RESOURCE_TYPE, PR_DISPLAY_NAME_A}};
  if (!status.OpenStatusTable(session) || !status.table) return status.lastResult;
  if (!status.Prepare(reinterpret_cast<const SPropTagArray*>(&columns), nullptr, nullptr)) return status.lastResult;
  const SRow* subsystem = nullptr;
  while (const SRow* row = status.NextRow()) {
    if (row->cValues >= 2 && row->lpProps[0].ulPropTag == PR_RESOURCE_TYPE &&
        row->lpProps[1].ulPropTag == PR_DISPLAY_NAME_A && row->lpProps[0].Value.l == MAPI_SUBSYSTEM) {
      subsystem = row;
      break;
    }
  }
  if (!subsystem) return status.ScanEndResult(MAPI_E_NOT_FOUND);
  if (!DupAnsiToWide(subsystem->lpProps[1].Value.lpszA, profileNameOut)) return E_OUTOFMEMORY;
  // A session without a readable identity still posts, without a sender.
  QuerySessionIdentity(session, identityEntryIdOut, identityNameOut, identitySearchKeyOut);
  return S_OK;
}

HRESULT QuerySessionIdentity(IMAPISession* session, BinaryValue& identityEntryIdOut,
                             ModuleBlock<wchar_t>& identityNameOut, BinaryValue& identitySearchKeyOut) noexcept {
  if (!session) return E_INVALIDARG;
  ULONG entryIdSize = 0;
  MAPIBuffer<ENTRYID> entryId;
  HRESULT result = session->QueryIdentity(&entryIdSize, entryId.put());
  if (result < 0) return result;

  ULONG objectType = 0;
  MAPIInterface<IMAPIProp> user;
  result = session->OpenEntry(entryIdSize, entryId.get(), nullptr, MAPI_BEST_ACCESS, &objectType, user.putUnknown());
  if (result >= 0 && !user) result = MAPI_E_NOT_FOUND;
  if (result < 0) {
    ClearIdentity(identityEntryIdOut, identityNameOut, identitySearchKeyOut);
    return result;
  }

  SizedSPropTagArray(2, tags) = {2, {PR_DISPLAY_NAME_A, PR_SEARCH_KEY}};
  ULONG valueCount = 0;
  MAPIBuffer<SPropValue> values;
  result = user->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &valueCount, values.put());
  if (result >= 0 && (!values || valueCount < 2)) result = MAPI_E_CALL_FAILED;
  if (result < 0) {
    ClearIdentity(identityEntryIdOut, identityNameOut, identitySearchKeyOut);
    return result;
  }

  bool copied = CopyBinaryValue(&identityEntryIdOut, entryIdSize, entryId.get()) != 0;
  // A property of another tag is missing: it is passed over.
  if (copied && values.get()[0].ulPropTag == PR_DISPLAY_NAME_A) {
    copied = DupAnsiToWide(values.get()[0].Value.lpszA, identityNameOut) != nullptr;
  }
  if (copied && values.get()[1].ulPropTag == PR_SEARCH_KEY && values.get()[1].Value.bin.cb != 0) {
    copied = CopyBinaryValue(&identitySearchKeyOut, values.get()[1].Value.bin.cb, values.get()[1].Value.bin.lpb) != 0;
  }
  if (!copied) {
    ClearIdentity(identityEntryIdOut, identityNameOut, identitySearchKeyOut);
    return E_OUTOFMEMORY;
  }
  return result;
}

wchar_t* DupAnsiToWide(const char* text, ModuleBlock<wchar_t>& out) noexcept {
  if (!text) return nullptr;
  const int length = lstrlenA(text) + 1;
  ModuleBlock<wchar_t> buffer(static_cast<wchar_t*>(ModuleAlloc(static_cast<size_t>(length) * sizeof(wchar_t))));
  if (!buffer) return nullptr;
  if (MultiByteToWideChar(CP_ACP, 0, text, length, buffer.get(), length) == 0) return nullptr;
  out = std::move(buffer);
  return out.get();
}

int CopyBinaryValue(BinaryValue* out, ULONG byteCount, const void* bytes) noexcept {
  if (!out || byteCount == 0 || !bytes) return 0;
  ModuleBlock<unsigned char> copy(static_cast<unsigned char*>(ModuleAlloc(byteCount)));
  if (!copy) {
    out->Clear();
    return 0;
  }
  std::memcpy(copy.get(), bytes, byteCount);
  out->bytes = std::move(copy);
  out->byteCount = byteCount;
  return 1;
}
