#include "options/report_strings.h"

#include <cstring>

#include "options/tlv.h"
#include "platform/wide_text.h"

namespace {

// A NUL-terminated wide copy of a record's value, null for an empty value.
// The value normally carries its own terminator; one is added regardless.
wchar_t* CopyValueAsText(SizedBuffer value) noexcept {
  if (!value) return nullptr;
  size_t characters = SizedBufferLength(value) / sizeof(wchar_t);
  auto* text = static_cast<wchar_t*>(ModuleAlloc((characters + 1) * sizeof(wchar_t)));  // zero-filled
  if (text) std::memcpy(text, value, characters * sizeof(wchar_t));
  return text;
}

// Replaces a string out, releasing what an earlier record put there.
void ReplaceText(wchar_t** slot, wchar_t* text, bool& ownedByUs) noexcept {
  if (ownedByUs) ModuleFree(*slot);
  *slot = text;
  ownedByUs = true;
}

}  // namespace

int ReadReportStrings(const wchar_t* path, wchar_t** comment, wchar_t** body) noexcept {
  TLVDescriptor* file = nullptr;
  if (TLVOpenFile(path, OF_READ, OF_SHARE_DENY_WRITE, &file) != FR_OK) return 0;
  bool commentSet = false;
  bool bodySet = false;
  for (;;) {
    ScopedSizedBuffer value;
    uint16_t tag = 0;
    uint16_t length = 0;
    if (TLVRead(file, &tag, &length, value.variable()) != FR_OK) break;
    if (tag == kReportCommentTag && comment) {
      ReplaceText(comment, CopyValueAsText(value.get()), commentSet);
    } else if (tag == kReportBodyTag) {
      if (body) ReplaceText(body, CopyValueAsText(value.get()), bodySet);
      break;
    }
  }
  TLVDestroy(file);
  return 1;
}
