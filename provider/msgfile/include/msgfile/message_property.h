// Property values as a message file holds them, and the objects that own them.
#pragma once

#include <windows.h>

#include <mapidefs.h>
#include <mapicode.h>  // the MAPI codes returned

#include <cstdint>
#include <string>
#include <vector>

namespace msgfile {

enum class ObjectKind { Message, Attachment, Recipient };

// Property type 0: a tag with it names a property by id alone.
constexpr ULONG kAnyPropertyType = 0;

// The message itself, or one of its attachments or recipients. The writer
// numbers attachments and recipients as it creates them; the reader numbers
// them 0, 1, 2... in file order.
struct ObjectRef {
  ObjectKind kind = ObjectKind::Message;
  ULONG number = 0;

  static ObjectRef Message() { return ObjectRef(); }
  static ObjectRef Attachment(ULONG n) { return ObjectRef(ObjectKind::Attachment, n); }
  static ObjectRef Recipient(ULONG n) { return ObjectRef(ObjectKind::Recipient, n); }

  ObjectRef() = default;
  ObjectRef(ObjectKind k, ULONG n) : kind(k), number(n) {}
};

// One value. Fixed-size types keep their bytes in fixed (little-endian,
// zero-extended); the others keep them in bytes: PT_UNICODE as UTF-16LE code
// units and PT_STRING8 as single bytes, both without a terminator, PT_BINARY
// and PT_CLSID as they are.
struct Property {
  ULONG tag = 0;
  uint64_t fixed = 0;
  std::vector<uint8_t> bytes;
};

// PT_I2, PT_LONG, PT_R4, PT_DOUBLE, PT_CURRENCY, PT_APPTIME, PT_ERROR,
// PT_BOOLEAN, PT_I8, PT_SYSTIME: bytes of the value (1 for PT_BOOLEAN); 0 for
// any other type.
size_t FixedValueBytes(ULONG propertyType);
// PT_UNICODE, PT_STRING8, PT_BINARY, PT_CLSID: kept in a stream of its own.
bool IsStreamedType(ULONG propertyType);

// MAPI_E_INVALID_TYPE for a type the file cannot hold (multi-valued, object,
// null, or no type at all).
HRESULT PropertyFromSPropValue(const SPropValue& value, Property* out) noexcept;

// Readers of one type; the value must have that type.
int16_t ShortValue(const Property& p);
int32_t LongValue(const Property& p);
int64_t LongLongValue(const Property& p);
bool BooleanValue(const Property& p);
double DoubleValue(const Property& p);
FILETIME FileTimeValue(const Property& p);
std::wstring UnicodeValue(const Property& p);
std::string String8Value(const Property& p);

// Builders for code that has no SPropValue at hand.
Property LongProperty(ULONG tag, int32_t value);
Property FileTimeProperty(ULONG tag, const FILETIME& value);
Property UnicodeProperty(ULONG tag, const std::wstring& value);
Property BinaryProperty(ULONG tag, const void* data, size_t size);

}  // namespace msgfile
