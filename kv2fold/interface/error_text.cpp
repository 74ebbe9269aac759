#include "interface/error_text.h"

#include <mapicode.h>

#include "interface/export_job.h"
#include "interface/resource_strings.h"
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

}  // namespace

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
  // Fallback text the module carries itself, with MAPI's code.
  FormatWide(job.errorText, kErrorTextCapacity, L"Error code 0x%08X returned.", static_cast<unsigned>(result));
  return KVE_FAILED;
}
