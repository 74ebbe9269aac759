#include "property_values.h"

#include <mapicode.h>

#include <cstring>
#include <new>

#include "properties.h"

namespace provider {

HRESULT ValueFromPropValue(const SPropValue& prop, Value& out) {
  msgfile::Property property;
  HRESULT hr = msgfile::PropertyFromSPropValue(prop, &property);
  if (hr == E_INVALIDARG) return MAPI_E_INVALID_PARAMETER;
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(hr)) return hr;
  out = ValueFromFileProperty(property);
  return S_OK;
}

Value ValueFromFileProperty(const msgfile::Property& property) {
  Value value;
  value.tag = property.tag;
  switch (PROP_TYPE(property.tag)) {
    case PT_I2: value.number = msgfile::ShortValue(property); break;
    case PT_LONG:
    case PT_ERROR: value.number = msgfile::LongValue(property); break;
    case PT_BOOLEAN: value.number = msgfile::BooleanValue(property) ? 1 : 0; break;
    case PT_R4: value.number = static_cast<int64_t>(property.fixed & 0xFFFFFFFFu); break;
    case PT_UNICODE: value.text = msgfile::UnicodeValue(property); break;
    case PT_STRING8: value.text = WideText(msgfile::String8Value(property).c_str()); break;
    case PT_BINARY:
    case PT_CLSID: value.bytes = property.bytes; break;
    default: value.number = static_cast<int64_t>(property.fixed); break;
  }
  return value;
}

uint64_t ValueBytes(const Value& value) {
  switch (PROP_TYPE(value.tag)) {
    case PT_UNICODE:
    case PT_STRING8: return (value.text.size() + 1) * sizeof(wchar_t);
    case PT_BINARY:
    case PT_CLSID: return value.bytes.size();
    default: return 8;
  }
}

std::vector<uint8_t> StreamBytes(const Value& value, ULONG requestedType) {
  switch (PROP_TYPE(value.tag)) {
    case PT_UNICODE:
    case PT_STRING8:
      if (requestedType == PT_STRING8) {
        std::string narrow = NarrowText(value.text);
        return std::vector<uint8_t>(narrow.begin(), narrow.end());
      } else {
        msgfile::Property unicode = msgfile::UnicodeProperty(value.tag, value.text);
        return unicode.bytes;
      }
    default:
      return value.bytes;
  }
}

}  // namespace provider
