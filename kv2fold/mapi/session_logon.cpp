#include "mapi/session_logon.h"

#include <mapitags.h>

#include <cstring>
#include <utility>

#include "mapi/mapi_table.h"

namespace {

// Column and value sets, each index beside its tag.
enum StatusColumn : ULONG { kResourceType, kStatusDisplayName, kStatusColumnCount };
enum IdentityValue : ULONG { kIdentityDisplayName, kIdentitySearchKey, kIdentityValueCount };

}  // namespace

HRESULT LogonSession(MAPIInterface<IMAPISession>& session, bool silent, const wchar_t* profile,
                     const wchar_t* password) noexcept {
  const ULONG flags = silent ? kSilentLogonFlags : kDialogLogonFlags;
  // MAPI_UNICODE: the two names are wide strings behind MAPI's narrow type.
  const HRESULT result = g_MAPIFunctions.MAPILogonEx(
      reinterpret_cast<ULONG_PTR>(GetActiveWindow()), reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(profile)),
      reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(password)), flags, session.put());
  if (result < 0) session.reset();
  return result;
}

void LogoffSession(MAPIInterface<IMAPISession>& session) noexcept {
  if (session) {
    session->Logoff(0, 0, 0);
    session.reset();
  }
}

HRESULT RetrieveProfileName(IMAPISession* session, ModuleBlock<wchar_t>& profileNameOut,
                            SessionIdentity& identityOut) noexcept {
  CMAPITable status;
  SizedSPropTagArray(kStatusColumnCount, columns) = {kStatusColumnCount, {PR_RESOURCE_TYPE, PR_DISPLAY_NAME_A}};
  if (!status.OpenStatusTable(session) || !status.table) return status.lastResult;
  if (!status.Prepare(reinterpret_cast<const SPropTagArray*>(&columns), nullptr, nullptr)) return status.lastResult;
  const SRow* subsystem = nullptr;
  while (const SRow* row = status.NextRow()) {
    if (row->cValues >= kStatusColumnCount && row->lpProps[kResourceType].ulPropTag == PR_RESOURCE_TYPE &&
        row->lpProps[kStatusDisplayName].ulPropTag == PR_DISPLAY_NAME_A &&
        row->lpProps[kResourceType].Value.l == MAPI_SUBSYSTEM) {
      subsystem = row;
      break;
    }
  }
  if (!subsystem) return status.ScanEndResult(MAPI_E_NOT_FOUND);
  if (!DupAnsiToWide(subsystem->lpProps[kStatusDisplayName].Value.lpszA, profileNameOut)) return E_OUTOFMEMORY;
  // A session without a readable identity still posts, without a sender.
  QuerySessionIdentity(session, identityOut);
  return S_OK;
}

HRESULT QuerySessionIdentity(IMAPISession* session, SessionIdentity& identityOut) noexcept {
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
    identityOut.Clear();
    return result;
  }

  SizedSPropTagArray(kIdentityValueCount, tags) = {kIdentityValueCount, {PR_DISPLAY_NAME_A, PR_SEARCH_KEY}};
  ULONG valueCount = 0;
  MAPIBuffer<SPropValue> values;
  result = user->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &valueCount, values.put());
  if (result >= 0 && (!values || valueCount < kIdentityValueCount)) result = MAPI_E_CALL_FAILED;
  if (result < 0) {
    identityOut.Clear();
    return result;
  }

  bool copied = CopyBinaryValue(&identityOut.entryId, entryIdSize, entryId.get()) != 0;
  // A property of another tag is missing: it is passed over.
  if (copied && values.get()[kIdentityDisplayName].ulPropTag == PR_DISPLAY_NAME_A) {
    copied = DupAnsiToWide(values.get()[kIdentityDisplayName].Value.lpszA, identityOut.name) != nullptr;
  }
  const SPropValue& searchKey = values.get()[kIdentitySearchKey];
  if (copied && searchKey.ulPropTag == PR_SEARCH_KEY && searchKey.Value.bin.cb != 0) {
    copied = CopyBinaryValue(&identityOut.searchKey, searchKey.Value.bin.cb, searchKey.Value.bin.lpb) != 0;
  }
  if (!copied) {
    identityOut.Clear();
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
