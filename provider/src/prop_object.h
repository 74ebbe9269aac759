// IMAPIProp for objects whose properties the provider computes: GetProps and
// GetPropList read the object's current values; changing properties is not
// offered by these objects.
#pragma once

#include <vector>

#include "object_base.h"
#include "properties.h"

namespace provider {

template <typename Interface>
class PropObject : public ComObject<Interface> {
 public:
  explicit PropObject(const char* interfaceName) : name_(interfaceName) {}

  STDMETHODIMP GetLastError(HRESULT result, ULONG flags, LPMAPIERROR* error) override {
    if (error) *error = nullptr;
    return Guard(name_, "GetLastError", flags, [&] { return BuildMapiError(result, flags, error); });
  }
  STDMETHODIMP SaveChanges(ULONG flags) override {
    // Stores, folders and users keep no pending changes: what they change is written at once.
    return Guard(name_, "SaveChanges", flags, [&] { return S_OK; });
  }
  STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values) override {
    if (count) *count = 0;
    if (values) *values = nullptr;
    return Guard(name_, "GetProps", flags, [&]() -> HRESULT {
      std::vector<Value> all;
      HRESULT hr = CollectProps(all);
      if (FAILED(hr)) return hr;
      return GetPropsFrom(all, tags, flags, count, values);
    });
  }
  STDMETHODIMP GetPropList(ULONG flags, LPSPropTagArray* tags) override {
    if (tags) *tags = nullptr;
    return Guard(name_, "GetPropList", flags, [&]() -> HRESULT {
      std::vector<Value> all;
      HRESULT hr = CollectProps(all);
      if (FAILED(hr)) return hr;
      return GetPropListFrom(all, flags, tags);
    });
  }
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG flags, LPUNKNOWN* object) override {
    if (object) *object = nullptr;
    return NoSupport("OpenProperty", flags);
  }
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return NoSupport("SetProps", 0);
  }
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return NoSupport("DeleteProps", 0);
  }
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG flags,
                      LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return NoSupport("CopyTo", flags);
  }
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG flags,
                         LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return NoSupport("CopyProps", flags);
  }
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG flags, ULONG* count, LPMAPINAMEID** names) override {
    if (count) *count = 0;
    if (names) *names = nullptr;
    return NoSupport("GetNamesFromIDs", flags);
  }
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG flags, LPSPropTagArray* tags) override {
    if (tags) *tags = nullptr;
    return NoSupport("GetIDsFromNames", flags);
  }

 protected:
  // The object's properties as they are now.
  virtual HRESULT CollectProps(std::vector<Value>& out) = 0;

  HRESULT NoSupport(const char* method, ULONG flags) {
    return Guard(name_, method, flags, [] { return MAPI_E_NO_SUPPORT; });
  }
  const char* name_;
};

}  // namespace provider
