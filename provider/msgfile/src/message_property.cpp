#include <msgfile/message_property.h>

#include <mapicode.h>

#include <cstring>
#include <cwchar>
#include <new>

namespace msgfile {

size_t FixedValueBytes(ULONG type) {
  switch (type) {
    case PT_BOOLEAN:
      return 1;
    case PT_I2:
      return 2;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
      return 4;
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_I8:
    case PT_SYSTIME:
      return 8;
    default:
      return 0;
  }
}

bool IsStreamedType(ULONG type) {
  return type == PT_UNICODE || type == PT_STRING8 || type == PT_BINARY || type == PT_CLSID;
}

namespace {
template <typename T>
uint64_t Bits(const T& value) {
  static_assert(sizeof(T) <= 8, "a fixed value fits in 8 bytes");
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof(T));
  return bits;
}

void Assign(std::vector<uint8_t>* bytes, const void* data, size_t size) {
  const uint8_t* first = static_cast<const uint8_t*>(data);
  bytes->assign(first, first + size);
}
}  // namespace

HRESULT PropertyFromSPropValue(const SPropValue& value, Property* out) noexcept {
  if (!out) return E_INVALIDARG;
  const ULONG type = PROP_TYPE(value.ulPropTag);
  Property p;
  p.tag = value.ulPropTag;
  try {
    switch (type) {
      case PT_I2:
        p.fixed = Bits(value.Value.i);
        break;
      case PT_LONG:
        p.fixed = Bits(value.Value.l);
        break;
      case PT_R4:
        p.fixed = Bits(value.Value.flt);
        break;
      case PT_DOUBLE:
        p.fixed = Bits(value.Value.dbl);
        break;
      case PT_APPTIME:
        p.fixed = Bits(value.Value.at);
        break;
      case PT_CURRENCY:
        p.fixed = Bits(value.Value.cur.int64);
        break;
      case PT_ERROR:
        p.fixed = Bits(value.Value.err);
        break;
      case PT_BOOLEAN:
        p.fixed = value.Value.b ? 1 : 0;
        break;
      case PT_I8:
        p.fixed = Bits(value.Value.li.QuadPart);
        break;
      case PT_SYSTIME:
        p.fixed = (static_cast<uint64_t>(value.Value.ft.dwHighDateTime) << 32) | value.Value.ft.dwLowDateTime;
        break;
      case PT_UNICODE:
        if (!value.Value.lpszW) return E_INVALIDARG;
        Assign(&p.bytes, value.Value.lpszW, std::wcslen(value.Value.lpszW) * sizeof(wchar_t));
        break;
      case PT_STRING8:
        if (!value.Value.lpszA) return E_INVALIDARG;
        Assign(&p.bytes, value.Value.lpszA, std::strlen(value.Value.lpszA));
        break;
      case PT_BINARY:
        if (!value.Value.bin.lpb && value.Value.bin.cb > 0) return E_INVALIDARG;
        Assign(&p.bytes, value.Value.bin.lpb, value.Value.bin.cb);
        break;
      case PT_CLSID:
        if (!value.Value.lpguid) return E_INVALIDARG;
        Assign(&p.bytes, value.Value.lpguid, sizeof(GUID));
        break;
      default:
        return MAPI_E_INVALID_TYPE;
    }
    *out = std::move(p);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

int16_t ShortValue(const Property& p) { return static_cast<int16_t>(p.fixed & 0xFFFF); }
int32_t LongValue(const Property& p) { return static_cast<int32_t>(p.fixed & 0xFFFFFFFFu); }
int64_t LongLongValue(const Property& p) { return static_cast<int64_t>(p.fixed); }
bool BooleanValue(const Property& p) { return (p.fixed & 0xFF) != 0; }

double DoubleValue(const Property& p) {
  double value = 0;
  std::memcpy(&value, &p.fixed, sizeof value);
  return value;
}

FILETIME FileTimeValue(const Property& p) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(p.fixed);
  time.dwHighDateTime = static_cast<DWORD>(p.fixed >> 32);
  return time;
}

std::wstring UnicodeValue(const Property& p) {
  std::wstring text(p.bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<wchar_t>(p.bytes[2 * i] | (p.bytes[2 * i + 1] << 8));
  }
  return text;
}

std::string String8Value(const Property& p) { return std::string(p.bytes.begin(), p.bytes.end()); }

Property LongProperty(ULONG tag, int32_t value) {
  Property p;
  p.tag = tag;
  p.fixed = static_cast<uint32_t>(value);
  return p;
}

Property FileTimeProperty(ULONG tag, const FILETIME& value) {
  Property p;
  p.tag = tag;
  p.fixed = (static_cast<uint64_t>(value.dwHighDateTime) << 32) | value.dwLowDateTime;
  return p;
}

Property UnicodeProperty(ULONG tag, const std::wstring& value) {
  Property p;
  p.tag = tag;
  p.bytes.resize(value.size() * 2);
  for (size_t i = 0; i < value.size(); ++i) {
    p.bytes[2 * i] = static_cast<uint8_t>(value[i] & 0xFF);
    p.bytes[2 * i + 1] = static_cast<uint8_t>((value[i] >> 8) & 0xFF);
  }
  return p;
}

Property BinaryProperty(ULONG tag, const void* data, size_t size) {
  Property p;
  p.tag = tag;
  if (size > 0) Assign(&p.bytes, data, size);
  return p;
}

}  // namespace msgfile
