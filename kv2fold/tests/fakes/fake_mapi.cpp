// The fake flat functions, the call log, programmed failures and the MAPI
// memory accounting.
#include "tests/fakes/fake_mapi.h"

#include <mapitags.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kvfake {
namespace {

FakeMapi* g_current = nullptr;

HRESULT WINAPI FakeInitialize(LPVOID) {
  FakeMapi& fake = FakeMapi::Current();
  fake.Record("MAPIInitialize");
  ++fake.initializeCalls;
  HRESULT result = S_OK;
  fake.TakeFault("MAPIInitialize", result);
  return result;
}

void WINAPI FakeUninitialize() {
  FakeMapi& fake = FakeMapi::Current();
  fake.Record("MAPIUninitialize");
  ++fake.uninitializeCalls;
}

HRESULT WINAPI FakeLogonEx(ULONG_PTR, LPTSTR profile, LPTSTR password, ULONG flags, LPMAPISESSION* session) {
  FakeMapi& fake = FakeMapi::Current();
  if (session) *session = nullptr;
  fake.cursorAtLogon = GetCursor();
  // The module always passes MAPI_UNICODE: the names are wide.
  fake.Record("MAPILogonEx profile=" + Printable(reinterpret_cast<const wchar_t*>(profile)) +
              " password=" + Printable(reinterpret_cast<const wchar_t*>(password)) + " flags=" + Hex(flags));
  HRESULT result = S_OK;
  if (fake.TakeFault("MAPILogonEx", result)) return result;
  if (!session) return MAPI_E_INVALID_PARAMETER;
  *session = NewFakeSession(fake.session);
  return S_OK;
}

SCODE WINAPI FakeAllocateBuffer(ULONG size, LPVOID* buffer) { return FakeMapi::Current().Allocate(size, buffer); }

SCODE WINAPI FakeAllocateMore(ULONG size, LPVOID parent, LPVOID* buffer) {
  return FakeMapi::Current().AllocateMore(size, parent, buffer);
}

ULONG WINAPI FakeFreeBuffer(LPVOID buffer) { return FakeMapi::Current().Free(buffer); }

HRESULT WINAPI FakeOpenFormMgr(LPMAPISESSION, LPMAPIFORMMGR* manager) {
  if (manager) *manager = nullptr;
  return MAPI_E_NO_SUPPORT;
}

HRESULT WINAPI FakeAdminProfiles(ULONG, LPPROFADMIN* admin) {
  if (admin) *admin = nullptr;
  return MAPI_E_NO_SUPPORT;
}

void WINAPI FakeFreeProws(LPSRowSet rows) {
  if (!rows) return;
  for (ULONG i = 0; i < rows->cRows; ++i) FakeFreeBuffer(rows->aRow[i].lpProps);
  FakeFreeBuffer(rows);
}

HRESULT WINAPI FakeGetOneProp(LPMAPIPROP object, ULONG tag, LPSPropValue* value) {
  FakeMapi& fake = FakeMapi::Current();
  if (value) *value = nullptr;
  fake.Record("HrGetOneProp tag=" + Hex(tag));
  HRESULT result = S_OK;
  if (fake.TakeFault("HrGetOneProp", result)) return result;
  if (!object || !value) return MAPI_E_INVALID_PARAMETER;
  SizedSPropTagArray(1, tags) = {1, {tag}};
  ULONG count = 0;
  result = object->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, value);
  if (FAILED(result)) return result;
  if (*value && PROP_TYPE((*value)->ulPropTag) == PT_ERROR) {
    FakeFreeBuffer(*value);
    *value = nullptr;
    return MAPI_E_NOT_FOUND;
  }
  return S_OK;
}

HRESULT WINAPI FakeQueryAllRows(LPMAPITABLE, LPSPropTagArray, LPSRestriction, LPSSortOrderSet, LONG, LPSRowSet* rows) {
  if (rows) *rows = nullptr;
  return MAPI_E_NO_SUPPORT;
}

FILETIME WINAPI FakeMulDwDw(DWORD left, DWORD right) {
  ULONGLONG product = static_cast<ULONGLONG>(left) * right;
  return FILETIME{static_cast<DWORD>(product), static_cast<DWORD>(product >> 32)};
}

FILETIME WINAPI FakeNegFt(FILETIME time) {
  ULONGLONG value = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  value = ~value + 1;
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

ULONG TypeOf(ULONG tag) { return PROP_TYPE(tag); }

}  // namespace

FakeProp FakeProp::Long(ULONG tag, LONG value) {
  FakeProp prop;
  prop.tag = tag;
  prop.number = value;
  return prop;
}
FakeProp FakeProp::Bool(ULONG tag, bool value) { return Long(tag, value ? 1 : 0); }
FakeProp FakeProp::Text(ULONG tag, const std::string& value) {
  FakeProp prop;
  prop.tag = tag;
  prop.text = value;
  return prop;
}
FakeProp FakeProp::Binary(ULONG tag, const std::vector<BYTE>& value) {
  FakeProp prop;
  prop.tag = tag;
  prop.bytes = value;
  return prop;
}
FakeProp FakeProp::Error(ULONG tag, SCODE error) {
  FakeProp prop;
  prop.tag = PROP_TAG(PT_ERROR, PROP_ID(tag));
  prop.number = error;
  return prop;
}

std::vector<FakeRow> StatusRowsOfProfile(const std::string& profileName) {
  return {
      {FakeProp::Long(PR_RESOURCE_TYPE, MAPI_SUBSYSTEM), FakeProp::Text(PR_DISPLAY_NAME_A, profileName)},
      {FakeProp::Long(PR_RESOURCE_TYPE, MAPI_STORE_PROVIDER), FakeProp::Text(PR_DISPLAY_NAME_A, "Mailbox")},
  };
}

std::string Hex(ULONG value) {
  char text[16];
  snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
  return text;
}

std::string Printable(const wchar_t* text) {
  if (!text) return "null";
  std::string out;
  for (; *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

FakeMapi::FakeMapi() {
  if (g_current) throw std::logic_error("one FakeMapi at a time");
  g_current = this;
  savedFunctions_ = g_MAPIFunctions;
  savedBound_ = g_mapiBound;
  g_MAPIFunctions = MAPIFunctionTable{FakeInitialize,    FakeUninitialize,  FakeLogonEx,     FakeAllocateBuffer,
                                      FakeAllocateMore,  FakeFreeBuffer,    FakeOpenFormMgr, FakeAdminProfiles,
                                      FakeFreeProws,     FakeGetOneProp,    FakeQueryAllRows, FakeMulDwDw,
                                      FakeNegFt};
  g_mapiBound = 1;
}

FakeMapi::~FakeMapi() {
  g_MAPIFunctions = savedFunctions_;
  g_mapiBound = savedBound_;
  // Blocks a test left behind are released here; the test reports them.
  for (auto& block : buffers_) {
    for (void* child : block.second) free(child);
    free(block.first);
  }
  g_current = nullptr;
}

FakeMapi& FakeMapi::Current() {
  if (!g_current) throw std::logic_error("no FakeMapi in place");
  return *g_current;
}

void FakeMapi::Record(const std::string& call) { calls_.push_back(call); }

std::vector<std::string> FakeMapi::CallsStartingWith(const std::string& prefix) const {
  std::vector<std::string> matching;
  for (const std::string& call : calls_) {
    if (call.compare(0, prefix.size(), prefix) == 0) matching.push_back(call);
  }
  return matching;
}

void FakeMapi::FailCall(const std::string& method, HRESULT result, unsigned nth) {
  faults_.push_back(Fault{method, nth, result});
}

bool FakeMapi::TakeFault(const std::string& method, HRESULT& result) {
  bool hit = false;
  for (auto it = faults_.begin(); it != faults_.end();) {
    if (it->method == method && --it->callsLeft == 0) {
      if (!hit) result = it->result;
      hit = true;
      it = faults_.erase(it);
    } else {
      ++it;
    }
  }
  return hit;
}

HRESULT FakeMapi::Allocate(ULONG size, void** out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  HRESULT fault = S_OK;
  if (TakeFault("MAPIAllocateBuffer", fault)) return fault;
  void* block = calloc(1, size ? size : 1);
  if (!block) return MAPI_E_NOT_ENOUGH_MEMORY;
  buffers_[block];
  *out = block;
  return S_OK;
}

HRESULT FakeMapi::AllocateMore(ULONG size, void* parent, void** out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  auto found = buffers_.find(parent);
  if (found == buffers_.end()) return MAPI_E_INVALID_PARAMETER;
  void* block = calloc(1, size ? size : 1);
  if (!block) return MAPI_E_NOT_ENOUGH_MEMORY;
  found->second.push_back(block);
  *out = block;
  return S_OK;
}

ULONG FakeMapi::Free(void* buffer) {
  if (!buffer) return 0;
  auto found = buffers_.find(buffer);
  if (found == buffers_.end()) {
    ++invalidFrees_;
    return 0;
  }
  for (void* child : found->second) free(child);
  free(found->first);
  buffers_.erase(found);
  return 0;
}

SPropValue* FakeMapi::BuildValues(const FakeRow& props, const std::vector<ULONG>* columns, ULONG* count,
                                  bool* anyMissing) {
  std::vector<ULONG> tags;
  if (columns) {
    tags = *columns;
  } else {
    for (const FakeProp& prop : props) tags.push_back(prop.tag);
  }
  if (anyMissing) *anyMissing = false;
  void* raw = nullptr;
  if (FAILED(Allocate(static_cast<ULONG>(sizeof(SPropValue) * (tags.empty() ? 1 : tags.size())), &raw))) {
    return nullptr;
  }
  auto* values = static_cast<SPropValue*>(raw);
  for (size_t i = 0; i < tags.size(); ++i) {
    SPropValue& value = values[i];
    const FakeProp* prop = nullptr;
    for (const FakeProp& candidate : props) {
      if (PROP_ID(candidate.tag) == PROP_ID(tags[i])) prop = &candidate;
    }
    if (!prop || TypeOf(prop->tag) == PT_ERROR) {
      value.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tags[i]));
      value.Value.err = prop ? prop->number : MAPI_E_NOT_FOUND;
      if (anyMissing) *anyMissing = true;
      continue;
    }
    ULONG type = TypeOf(tags[i]) == PT_UNSPECIFIED ? TypeOf(prop->tag) : TypeOf(tags[i]);
    if (type == PT_UNICODE && TypeOf(prop->tag) != PT_STRING8) type = TypeOf(prop->tag);
    value.ulPropTag = PROP_TAG(type, PROP_ID(tags[i]));
    void* more = nullptr;
    switch (type) {
      case PT_STRING8:
        AllocateMore(static_cast<ULONG>(prop->text.size() + 1), raw, &more);
        memcpy(more, prop->text.c_str(), prop->text.size() + 1);
        value.Value.lpszA = static_cast<char*>(more);
        break;
      case PT_UNICODE: {
        int length = MultiByteToWideChar(CP_ACP, 0, prop->text.c_str(), -1, nullptr, 0);
        AllocateMore(static_cast<ULONG>(length * sizeof(wchar_t)), raw, &more);
        MultiByteToWideChar(CP_ACP, 0, prop->text.c_str(), -1, static_cast<wchar_t*>(more), length);
        value.Value.lpszW = static_cast<wchar_t*>(more);
        break;
      }
      case PT_BINARY:
        value.Value.bin.cb = static_cast<ULONG>(prop->bytes.size());
        if (!prop->bytes.empty()) {
          AllocateMore(static_cast<ULONG>(prop->bytes.size()), raw, &more);
          memcpy(more, prop->bytes.data(), prop->bytes.size());
        }
        value.Value.bin.lpb = static_cast<BYTE*>(more);
        break;
      case PT_BOOLEAN:
        value.Value.b = static_cast<unsigned short>(prop->number != 0);
        break;
      default:
        value.Value.l = prop->number;
        break;
    }
  }
  if (count) *count = static_cast<ULONG>(tags.size());
  return values;
}

}  // namespace kvfake
