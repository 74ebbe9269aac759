// Names and fixed sizes of the Outlook message file layout.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace msgfile {
namespace msg {

constexpr wchar_t kPropertiesStream[] = L"__properties_version1.0";
constexpr wchar_t kNamedPropertyStorage[] = L"__nameid_version1.0";
constexpr wchar_t kAttachmentPrefix[] = L"__attach_version1.0_#";
constexpr wchar_t kRecipientPrefix[] = L"__recip_version1.0_#";
constexpr wchar_t kValuePrefix[] = L"__substg1.0_";
// The named-property storage's GUID, entry and string streams.
constexpr uint32_t kNamedPropertyStreamTags[] = {0x00020102u, 0x00030102u, 0x00040102u};

constexpr size_t kMessageHeaderBytes = 32;   // top-level property stream
constexpr size_t kSubObjectHeaderBytes = 8;  // attachment and recipient property streams
constexpr size_t kPropertyEntryBytes = 16;
constexpr size_t kMaxSubObjects = 2048;  // attachments, and recipients, per message

// Entry flags: readable and writable.
constexpr uint32_t kPropertyFlags = 0x00000006u;

constexpr uint32_t kStoreSupportMaskTag = 0x340D0003u;  // PR_STORE_SUPPORT_MASK
constexpr uint32_t kStoreUnicodeOk = 0x00040000u;       // STORE_UNICODE_OK
constexpr uint32_t kAttachNumberTag = 0x0E210003u;      // PR_ATTACH_NUM
constexpr uint32_t kRowIdTag = 0x30000003u;              // PR_ROWID

// {00020D0B-0000-0000-C000-000000000046}: an Outlook message.
constexpr CLSID kMessageClassId = {0x00020D0B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Eight upper-case hexadecimal digits, as in stream and storage names.
inline std::wstring Hex8(uint32_t value) {
  std::wstring text(8, L'0');
  for (int i = 7; i >= 0; --i) {
    text[static_cast<size_t>(i)] = L"0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  }
  return text;
}

inline std::wstring ValueStreamName(uint32_t tag) { return kValuePrefix + Hex8(tag); }

}  // namespace msg
}  // namespace msgfile
