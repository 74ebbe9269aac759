// The job's MAPI session: logon, the name of the profile actually used, the
// identity of the logged-on user (the sender of every posting), and logoff.
#pragma once

#include <windows.h>

#include <mapix.h>

#include "interface/export_job.h"

// MAPILogonEx flags: unicode names, no mail spooler, extended MAPI, a
// session of its own; with MAPI's user interface unless the job is silent.
constexpr ULONG kSilentLogonFlags = MAPI_UNICODE | MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_NEW_SESSION;
constexpr ULONG kDialogLogonFlags = kSilentLogonFlags | MAPI_LOGON_UI;
static_assert(kSilentLogonFlags == 0x80008022 && kDialogLogonFlags == 0x80008023, "logon flags");

// Ends any earlier session, logs on to profile (null: MAPI chooses, with its
// dialog if the job is not silent) and learns the profile name and identity.
// Returns a result code; a -1 leaves "Cannot logon to Exchange Profile." or
// "Cannot retrieve Exchange profile name." in the job's language.
int LogonProfile(ExportJob& job, const wchar_t* profile, const wchar_t* password) noexcept;

// Logs off and releases the session; frees the profile name and identity.
int EndSession(ExportJob& job) noexcept;
// Logs off and releases the session alone.
void LogoffSession(ExportJob& job) noexcept;

// The profile's name from the status table's MAPI_SUBSYSTEM row, then the
// identity (whose failure does not matter). An HRESULT.
HRESULT RetrieveProfileName(IMAPISession* session, ModuleBlock<wchar_t>& profileNameOut, BinaryValue& identityEntryIdOut,
                            ModuleBlock<wchar_t>& identityNameOut, BinaryValue& identitySearchKeyOut) noexcept;

// The logged-on user's entry id, display name and search key. Outputs are
// untouched when the identity cannot be asked for, and cleared when a later
// step fails. An HRESULT; GetProps's warning when a property is missing.
HRESULT QuerySessionIdentity(IMAPISession* session, BinaryValue& identityEntryIdOut,
                             ModuleBlock<wchar_t>& identityNameOut, BinaryValue& identitySearchKeyOut) noexcept;

// A wide copy of single-byte text in the ANSI code page, stored in out and
// returned; null (out unchanged) when it cannot be made.
wchar_t* DupAnsiToWide(const char* text, ModuleBlock<wchar_t>& out) noexcept;

// Stores a heap copy of byteCount bytes in out; 1, or 0 when there is
// nothing to copy (out untouched) or memory runs out (out emptied).
int CopyBinaryValue(BinaryValue* out, ULONG byteCount, const void* bytes) noexcept;
