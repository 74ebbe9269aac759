#include "properties.h"

#include <cstring>

#include "resource_ids.h"

namespace provider {

std::string NarrowText(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::wstring WideText(const char* text) {
  if (!text || !*text) return std::wstring();
  int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(size > 0 ? size : 0, L'\0');
  if (size > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], size);
  if (!out.empty()) out.pop_back();
  return out;
}

std::wstring TextArgument(const void* text, bool unicode) {
  if (!text) return std::wstring();
  return unicode ? std::wstring(static_cast<const wchar_t*>(text)) : WideText(static_cast<const char*>(text));
}

ULONG NaturalTag(ULONG storedTag, bool unicode) {
  ULONG type = PROP_TYPE(storedTag);
  if (type != PT_UNICODE && type != PT_STRING8) return storedTag;
  const ULONG stringType = unicode ? PT_UNICODE : PT_STRING8;  // the header's macro does not bracket its argument
  return CHANGE_PROP_TYPE(storedTag, stringType);
  return storedTag;
}

Value ResolveValue(const std::vector<Value>& values, ULONG requestedTag, bool unicode) {
  const Value* stored = FindValue(values, requestedTag);
  ULONG requestedType = PROP_TYPE(requestedTag);
  Value error = Value::Long(CHANGE_PROP_TYPE(requestedTag, PT_ERROR), MAPI_E_NOT_FOUND);
  if (!stored) return error;
  ULONG storedType = PROP_TYPE(stored->tag);
  if (storedType == PT_ERROR) {
    Value copy = *stored;
    return copy;
  }
  Value out = *stored;
  if (requestedType == PT_UNSPECIFIED) {
    out.tag = NaturalTag(stored->tag, unicode);
    return out;
  }
  bool storedString = storedType == PT_UNICODE || storedType == PT_STRING8;
  bool requestedString = requestedType == PT_UNICODE || requestedType == PT_STRING8;
  if (storedType != requestedType && !(storedString && requestedString)) return error;
  out.tag = requestedTag;
  return out;
}

HRESULT FillPropValues(const std::vector<Value>& values, SPropValue* dest, void* root) {
  for (size_t i = 0; i < values.size(); ++i) {
    const Value& value = values[i];
    SPropValue& prop = dest[i];
    memset(&prop, 0, sizeof prop);
    prop.ulPropTag = value.tag;
    switch (PROP_TYPE(value.tag)) {
      case PT_I2:
        prop.Value.i = static_cast<short>(value.number);
        break;
      case PT_LONG:
        prop.Value.l = static_cast<LONG>(value.number);
        break;
      case PT_BOOLEAN:
        prop.Value.b = value.number ? 1 : 0;
        break;
      case PT_ERROR:
        prop.Value.err = static_cast<SCODE>(value.number);
        break;
      case PT_I8:
        prop.Value.li.QuadPart = value.number;
        break;
      case PT_CURRENCY:
        prop.Value.cur.int64 = value.number;
        break;
      case PT_R4: {
        // Floating-point values keep their bits in number.
        uint32_t bits = static_cast<uint32_t>(value.number);
        memcpy(&prop.Value.flt, &bits, sizeof bits);
        break;
      }
      case PT_DOUBLE:
      case PT_APPTIME:
        memcpy(PROP_TYPE(value.tag) == PT_DOUBLE ? &prop.Value.dbl : &prop.Value.at, &value.number, sizeof(double));
        break;
      case PT_CLSID: {
        if (value.bytes.size() != sizeof(GUID)) return MAPI_E_CORRUPT_DATA;
        void* guid = nullptr;
        HRESULT hr = MAPIAllocateMore(sizeof(GUID), root, &guid);
        if (FAILED(hr)) return hr;
        memcpy(guid, value.bytes.data(), sizeof(GUID));
        prop.Value.lpguid = static_cast<LPGUID>(guid);
        break;
      }
      case PT_SYSTIME:
        prop.Value.ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(value.number));
        prop.Value.ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value.number) >> 32);
        break;
      case PT_UNICODE: {
        void* text = nullptr;
        HRESULT hr = MAPIAllocateMore(static_cast<ULONG>((value.text.size() + 1) * sizeof(wchar_t)), root, &text);
        if (FAILED(hr)) return hr;
        memcpy(text, value.text.c_str(), (value.text.size() + 1) * sizeof(wchar_t));
        prop.Value.lpszW = static_cast<LPWSTR>(text);
        break;
      }
      case PT_STRING8: {
        std::string narrow = NarrowText(value.text);
        void* text = nullptr;
        HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(narrow.size() + 1), root, &text);
        if (FAILED(hr)) return hr;
        memcpy(text, narrow.c_str(), narrow.size() + 1);
        prop.Value.lpszA = static_cast<LPSTR>(text);
        break;
      }
      case PT_BINARY: {
        void* bytes = nullptr;
        HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(value.bytes.size()), root, &bytes);
        if (FAILED(hr)) return hr;
        if (!value.bytes.empty()) memcpy(bytes, value.bytes.data(), value.bytes.size());
        prop.Value.bin.cb = static_cast<ULONG>(value.bytes.size());
        prop.Value.bin.lpb = static_cast<LPBYTE>(bytes);
        break;
      }
      default:
        prop.ulPropTag = CHANGE_PROP_TYPE(value.tag, PT_ERROR);
        prop.Value.err = MAPI_E_NO_SUPPORT;
        break;
    }
  }
  return S_OK;
}

HRESULT AllocatePropArray(const std::vector<Value>& values, LPSPropValue* out) {
  *out = nullptr;
  void* raw = nullptr;
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * (values.empty() ? 1 : values.size())), &raw);
  if (FAILED(hr)) return hr;
  MapiBuffer<SPropValue> array(static_cast<SPropValue*>(raw));
  hr = FillPropValues(values, array.get(), array.get());
  if (FAILED(hr)) return hr;
  *out = array.release();
  return S_OK;
}

HRESULT AllocateTagArray(const std::vector<ULONG>& tags, LPSPropTagArray* out) {
  *out = nullptr;
  void* raw = nullptr;
  HRESULT hr = MAPIAllocateBuffer(CbNewSPropTagArray(tags.size()), &raw);
  if (FAILED(hr)) return hr;
  LPSPropTagArray array = static_cast<LPSPropTagArray>(raw);
  array->cValues = static_cast<ULONG>(tags.size());
  for (size_t i = 0; i < tags.size(); ++i) array->aulPropTag[i] = tags[i];
  *out = array;
  return S_OK;
}

HRESULT GetPropsFrom(const std::vector<Value>& values, const SPropTagArray* tags, ULONG flags, ULONG* count,
                     LPSPropValue* out) {
  if (!count || !out) return MAPI_E_INVALID_PARAMETER;
  *count = 0;
  *out = nullptr;
  if (flags & ~MAPI_UNICODE) return MAPI_E_UNKNOWN_FLAGS;
  bool unicode = (flags & MAPI_UNICODE) != 0;
  std::vector<Value> selected;
  bool errors = false;
  if (!tags) {
    for (const Value& value : values) {
      Value copy = value;
      copy.tag = NaturalTag(value.tag, unicode);
      selected.push_back(std::move(copy));
    }
  } else {
    if (tags->cValues == 0) return MAPI_E_INVALID_PARAMETER;
    for (ULONG i = 0; i < tags->cValues; ++i) {
      selected.push_back(ResolveValue(values, tags->aulPropTag[i], unicode));
      if (PROP_TYPE(selected.back().tag) == PT_ERROR) errors = true;
    }
  }
  HRESULT hr = AllocatePropArray(selected, out);
  if (FAILED(hr)) return hr;
  *count = static_cast<ULONG>(selected.size());
  return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT GetPropListFrom(const std::vector<Value>& values, ULONG flags, LPSPropTagArray* out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  if (flags & ~MAPI_UNICODE) return MAPI_E_UNKNOWN_FLAGS;
  std::vector<ULONG> tags;
  for (const Value& value : values) tags.push_back(NaturalTag(value.tag, (flags & MAPI_UNICODE) != 0));
  return AllocateTagArray(tags, out);
}

HMODULE ProviderModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ProviderModule), &module);
  return module;
}

namespace {

UINT ErrorTextId(HRESULT result) {
  switch (result) {
    case MAPI_E_NO_ACCESS: return IDS_ERROR_NO_ACCESS;
    case MAPI_E_NOT_FOUND: return IDS_ERROR_NOT_FOUND;
    case MAPI_E_NO_SUPPORT: return IDS_ERROR_NO_SUPPORT;
    case MAPI_E_BUSY: return IDS_ERROR_BUSY;
    case MAPI_E_INVALID_PARAMETER: return IDS_ERROR_INVALID_PARAMETER;
    case MAPI_E_COLLISION: return IDS_ERROR_COLLISION;
    case MAPI_E_CORRUPT_DATA: return IDS_ERROR_CORRUPT_DATA;
    case MAPI_E_LOGON_FAILED: return IDS_ERROR_LOGON_FAILED;
    case MAPI_E_TOO_COMPLEX: return IDS_ERROR_TOO_COMPLEX;
    case MAPI_E_INVALID_BOOKMARK: return IDS_ERROR_INVALID_BOOKMARK;
    case MAPI_E_NOT_ENOUGH_MEMORY: return IDS_ERROR_NOT_ENOUGH_MEMORY;
    case MAPI_E_DISK_ERROR: return IDS_ERROR_DISK_ERROR;
    case MAPI_E_END_OF_SESSION: return IDS_ERROR_END_OF_SESSION;
    case MAPI_E_INVALID_ENTRYID: return IDS_ERROR_INVALID_ENTRYID;
    case MAPI_E_CALL_FAILED: return IDS_ERROR_CALL_FAILED;
    default: return 0;
  }
}

std::wstring LoadText(UINT id) {
  const wchar_t* text = nullptr;
  int length = LoadStringW(ProviderModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, length) : std::wstring();
}

}  // namespace

HRESULT BuildMapiError(HRESULT result, ULONG flags, LPMAPIERROR* out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  if (flags & ~MAPI_UNICODE) return MAPI_E_UNKNOWN_FLAGS;
  UINT id = ErrorTextId(result);
  if (!id) return S_OK;
  std::wstring text = LoadText(id);
  std::wstring component = LoadText(IDS_COMPONENT);
  if (text.empty()) return S_OK;
  void* raw = nullptr;
  HRESULT hr = MAPIAllocateBuffer(sizeof(MAPIERROR), &raw);
  if (FAILED(hr)) return hr;
  MapiBuffer<MAPIERROR> error(static_cast<MAPIERROR*>(raw));
  memset(error.get(), 0, sizeof(MAPIERROR));
  error->ulVersion = MAPI_ERROR_VERSION;
  error->ulLowLevelError = static_cast<ULONG>(result);
  const std::wstring* texts[2] = {&text, &component};
  LPTSTR* slots[2] = {&error->lpszError, &error->lpszComponent};
  for (int i = 0; i < 2; ++i) {
    void* copy = nullptr;
    if (flags & MAPI_UNICODE) {
      hr = MAPIAllocateMore(static_cast<ULONG>((texts[i]->size() + 1) * sizeof(wchar_t)), error.get(), &copy);
      if (FAILED(hr)) return hr;
      memcpy(copy, texts[i]->c_str(), (texts[i]->size() + 1) * sizeof(wchar_t));
    } else {
      std::string narrow = NarrowText(*texts[i]);
      hr = MAPIAllocateMore(static_cast<ULONG>(narrow.size() + 1), error.get(), &copy);
      if (FAILED(hr)) return hr;
      memcpy(copy, narrow.c_str(), narrow.size() + 1);
    }
    *slots[i] = static_cast<LPTSTR>(copy);
  }
  *out = error.release();
  return S_OK;
}

}  // namespace provider
