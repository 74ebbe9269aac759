// One property value as the provider keeps it: stored on disk, listed in
// tables, handed out by GetProps. Strings are kept wide; the narrow form is
// made on the way out.
#pragma once

#include <windows.h>

#include <mapidefs.h>

#include <cstdint>
#include <string>
#include <vector>

#include "object_id.h"

namespace provider {

struct Value {
  ULONG tag = 0;
  int64_t number = 0;          // PT_I2, PT_LONG, PT_BOOLEAN, PT_I8, PT_SYSTIME, PT_CURRENCY, PT_ERROR (the SCODE);
                               // the bits of PT_R4, PT_DOUBLE and PT_APPTIME
  std::wstring text;           // PT_UNICODE and PT_STRING8
  std::vector<uint8_t> bytes;  // PT_BINARY and PT_CLSID

  static Value Long(ULONG tag, int64_t v) { Value x; x.tag = tag; x.number = v; return x; }
  static Value Bool(ULONG tag, bool v) { Value x; x.tag = tag; x.number = v ? 1 : 0; return x; }
  static Value Text(ULONG tag, std::wstring v) { Value x; x.tag = tag; x.text = std::move(v); return x; }
  static Value Binary(ULONG tag, std::vector<uint8_t> v) { Value x; x.tag = tag; x.bytes = std::move(v); return x; }
  static Value Binary(ULONG tag, const ObjectId& id) { return Binary(tag, std::vector<uint8_t>(id.begin(), id.end())); }
};

// Property id of a tag, the part that names it regardless of its type.
inline ULONG PropId(ULONG tag) { return tag >> 16; }

// The value of tag's property id among values, whatever its type; null when absent.
inline const Value* FindValue(const std::vector<Value>& values, ULONG tag) {
  for (const Value& value : values)
    if (PropId(value.tag) == PropId(tag)) return &value;
  return nullptr;
}

// The text of a string property, empty when it is absent or no string.
inline std::wstring TextValue(const std::vector<Value>& values, ULONG tag) {
  const Value* value = FindValue(values, tag);
  const ULONG type = value ? value->tag & 0xFFFF : 0;
  return type == PT_UNICODE || type == PT_STRING8 ? value->text : std::wstring();
}

}  // namespace provider
