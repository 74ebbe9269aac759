// The job's MAPI session: logon, the name of the profile actually used, the
// identity of the logged-on user (the sender of every posting), and logoff.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstdint>

#include "mapi/mapi_owners.h"
#include "platform/wide_text.h"

// A byte count and a heap copy of the bytes (identity entry id, search key).
struct BinaryValue {
  uint32_t byteCount = 0;
  ModuleBlock<unsigned char> bytes;

  void Clear() noexcept {
    byteCount = 0;
    bytes.reset();
  }
};

// The logged-on user: the sender of every posting.
struct SessionIdentity {
  BinaryValue entryId;
  ModuleBlock<wchar_t> name;
  BinaryValue searchKey;

  void Clear() noexcept {
    entryId.Clear();
    name.reset();
    searchKey.Clear();
  }
};

// MAPILogonEx flags: unicode names, no mail spooler, extended MAPI, a
// session of its own; with MAPI's user interface unless the job is silent.
constexpr ULONG kSilentLogonFlags = MAPI_UNICODE | MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_NEW_SESSION;
constexpr ULONG kDialogLogonFlags = kSilentLogonFlags | MAPI_LOGON_UI;
static_assert(kSilentLogonFlags == 0x80008022 && kDialogLogonFlags == 0x80008023, "logon flags");

// Logs on to profile (null: MAPI chooses, with its dialog unless silent)
// into session, which must be empty. An HRESULT; session stays empty on
// failure.
HRESULT LogonSession(MAPIInterface<IMAPISession>& session, bool silent, const wchar_t* profile,
                     const wchar_t* password) noexcept;

// Logs off and releases the session, if any.
void LogoffSession(MAPIInterface<IMAPISession>& session) noexcept;

// The profile's name from the status table's MAPI_SUBSYSTEM row, then the
// identity (whose failure does not matter). An HRESULT.
HRESULT RetrieveProfileName(IMAPISession* session, ModuleBlock<wchar_t>& profileNameOut,
                            SessionIdentity& identityOut) noexcept;

// The logged-on user's entry id, display name and search key. Outputs are
// untouched when the identity cannot be asked for, and cleared when a later
// step fails. An HRESULT; GetProps's warning when a property is missing.
HRESULT QuerySessionIdentity(IMAPISession* session, SessionIdentity& identityOut) noexcept;

// A wide copy of single-byte text in the ANSI code page, stored in out and
// returned; null (out unchanged) when it cannot be made.
wchar_t* DupAnsiToWide(const char* text, ModuleBlock<wchar_t>& out) noexcept;

// Stores a heap copy of byteCount bytes in out; 1, or 0 when there is
// nothing to copy (out untouched) or memory runs out (out emptied).
int CopyBinaryValue(BinaryValue* out, ULONG byteCount, const void* bytes) noexcept;
