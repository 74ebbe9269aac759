#include "interface/error_text.h"

#include <mapicode.h>

#include "interface/export_job.h"
#include "platform/module_resources.h"
#include "resources/resource_ids.h"

namespace {

constexpr int kMostErrorCharacters = static_cast<int>(kErrorTextCapacity) - 1;

enum class Message { Unchanged, Literal, Resource, ErrorCode };

struct Mapping {
  HRESULT result;
  int code;
  Message message;
  UINT resourceId;
  const wchar_t* text;  // the literal, or the resource's fallback
};

// Literals and fallback texts the module carries itself: the first four are
// MAPI's own names, the rest stand in for a language's missing strings.
const Mapping kMappings[] = {
    {S_OK, KVE_OK, Message::Unchanged, 0, nullptr},
    {E_ABORT, KVE_CANCELLED, Message::Unchanged, 0, nullptr},
    {MAPI_E_USER_CANCEL, KVE_CANCELLED, Message::Unchanged, 0, nullptr},
    {MAPI_E_CANCEL, KVE_CANCELLED, Message::Unchanged, 0, nullptr},
    {MAPI_E_NOT_ENOUGH_MEMORY, KVE_NO_MEMORY, Message::Unchanged, 0, nullptr},
    {MAPI_E_NOT_ENOUGH_DISK, KVE_DISK_FULL, Message::Unchanged, 0, nullptr},
    {MAPI_E_CALL_FAILED, KVE_FAILED, Message::Literal, 0, L"MAPI_E_CALL_FAILED"},
    {MAPI_E_CORRUPT_DATA, KVE_FAILED, Message::Literal, 0, L"MAPI_E_CORRUPT_DATA"},
    {MAPI_E_FAILONEPROVIDER, KVE_FAILED, Message::Literal, 0, L"MAPI Error: Fail on provider."},
    {MAPI_E_INVALID_PARAMETER, KVE_FAILED, Message::Literal, 0, L"MAPI_E_INVALID_PARAMETER"},
    {MAPI_E_NO_ACCESS, KVE_FAILED, Message::Resource, IDS_NO_RIGHT_TO_POST_FILES,
     L"No access right to post file to Exchange Folders."},
    {MAPI_E_NOT_FOUND, KVE_FAILED, Message::Resource, IDS_MAPI_OBJECT_NOT_FOUND, L"MAPI object not found."},
    {MAPI_E_NO_SUPPORT, KVE_FAILED, Message::Resource, IDS_POSTING_NOT_SUPPORTED,
     L"Such posting is not supported by the Message Service Provider."},
};

struct Reason {
  HRESULT result;
  UINT resourceId;
  const wchar_t* fallback;
};

// Fallback texts the module carries itself.
const Reason kReasons[] = {
    {MAPI_E_NOT_ENOUGH_MEMORY, IDS_REASON_NO_MEMORY, L"There was not enough memory."},
    {MAPI_E_NOT_ENOUGH_DISK, IDS_REASON_DISK_FULL, L"The disk is full."},
    {HRESULT_FROM_WIN32(ERROR_BAD_FILE_TYPE), IDS_REASON_NOT_A_DISK_FILE,
     L"It is a device or a pipe, not a file on disk."},
    {MAPI_E_TOO_BIG, IDS_REASON_TOO_BIG, L"It is larger than the message store accepts."},
    {STG_E_DOCFILETOOLARGE, IDS_REASON_TOO_BIG, L"It is larger than the message store accepts."},
    {MAPI_E_DISK_ERROR, IDS_REASON_DISK_ERROR, L"The message store could not read or write its disk."},
    {MAPI_E_BUSY, IDS_REASON_BUSY, L"The message store was busy; try again."},
    {MAPI_E_NETWORK_ERROR, IDS_REASON_NETWORK,
     L"The message store's server could not be reached, or the connection to it was lost."},
};
const Reason kStorageReason = {S_OK, IDS_REASON_STORAGE, L"The message store could not store the message."};

bool HasMessageOfItsOwn(HRESULT result) noexcept {
  for (const Mapping& mapping : kMappings) {
    if (mapping.result == result) return true;
  }
  return false;
}

const Reason* ReasonFor(HRESULT result) noexcept {
  for (const Reason& reason : kReasons) {
    if (reason.result == result) return &reason;
  }
  return HRESULT_FACILITY(result) == FACILITY_STORAGE ? &kStorageReason : nullptr;
}

// The system's own words for a Windows error, in the language if it has
// them, without the line end.
bool SystemMessage(HRESULT result, DWORD language, wchar_t* text, DWORD capacity) noexcept {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD code = HRESULT_CODE(result);
  DWORD length = FormatMessageW(flags, nullptr, code, LANGIDFROMLCID(language), text, capacity, nullptr);
  if (length == 0) length = FormatMessageW(flags, nullptr, code, 0, text, capacity, nullptr);
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ')) {
    text[--length] = L'\0';
  }
  return length > 0;
}

}  // namespace

bool DescribeResult(const ExportJob& job, HRESULT result, wchar_t* text, size_t capacity) noexcept {
  if (result >= 0) return false;
  wchar_t sentence[kErrorTextCapacity];
  if (const Reason* reason = ReasonFor(result)) {
    if (LoadResourceString(reason->resourceId, sentence, kMostErrorCharacters, LOWORD(job.language)) != KVE_OK) {
      CopyWide(sentence, kErrorTextCapacity, reason->fallback, kMostErrorCharacters);
    }
  } else if (HasMessageOfItsOwn(result) || HRESULT_FACILITY(result) != FACILITY_WIN32 ||
             !SystemMessage(result, LOWORD(job.language), sentence, kErrorTextCapacity)) {
    return false;
  }
  // The code stays beside the words: support needs it.
  FormatWide(text, capacity, L"%ls (0x%08X)", sentence, static_cast<unsigned>(result));
  return true;
}

void SetErrorText(ExportJob& job, const wchar_t* text) noexcept {
  CopyWide(job.errorText, kErrorTextCapacity, text, kMostErrorCharacters);
}

void SetErrorFromResource(ExportJob& job, UINT id, const wchar_t* fallback) noexcept {
  if (LoadResourceString(id, job.errorText, kMostErrorCharacters, LOWORD(job.language)) != KVE_OK) {
    SetErrorText(job, fallback);
  }
}

int MapResult(ExportJob& job, HRESULT result) noexcept {
  for (const Mapping& mapping : kMappings) {
    if (mapping.result != result) continue;
    if (mapping.message == Message::Literal) SetErrorText(job, mapping.text);
    if (mapping.message == Message::Resource) SetErrorFromResource(job, mapping.resourceId, mapping.text);
    return mapping.code;
  }
  // Words for the code where the module has them (opening a folder meets
  // these as often as a posting does), else MAPI's code alone.
  if (!DescribeResult(job, result, job.errorText, kErrorTextCapacity)) {
    // Fallback text the module carries itself.
    FormatWide(job.errorText, kErrorTextCapacity, L"Error code 0x%08X returned.", static_cast<unsigned>(result));
  }
  return KVE_FAILED;
}
