// The IUnknown part every provider object shares, and the boundary that every
// interface method runs inside: fault injection, the call trace, and no
// exception past the method.
#pragma once

#include <windows.h>

#include <mapidefs.h>
#include <mapicode.h>
#include <mapiguid.h>
#include <mapix.h>

#include <atomic>
#include <new>
#include <utility>

#include "diagnostics.h"

namespace provider {

// How a busy fault treats the call: StateOnly calls do their work and then
// answer busy, so a wait lets the caller go on; Delivers calls deliver nothing.
enum class BusyFault { StateOnly, Delivers };

// The call's body with its armed fault, any exception as the code MAPI
// gives for it.
template <typename Body>
HRESULT GuardedBody(const char* iface, const char* method, Body&& body, BusyFault busy) noexcept {
  HRESULT result = S_OK;
  try {
    HRESULT fault = S_OK;
    if (TakeFault(iface, method, fault)) {
      if (fault == MAPI_E_BUSY && busy == BusyFault::StateOnly) {
        result = body();
        if (SUCCEEDED(result)) result = fault;
      } else {
        result = fault;
      }
    } else {
      result = body();
    }
  } catch (const std::bad_alloc&) {
    result = MAPI_E_NOT_ENOUGH_MEMORY;
  } catch (...) {
    result = MAPI_E_CALL_FAILED;
  }
  return result;
}

template <typename Body>
HRESULT Guard(const char* iface, const char* method, ULONG flags, Body&& body,
              BusyFault busy = BusyFault::Delivers) noexcept {
  const HRESULT result = GuardedBody(iface, method, std::forward<Body>(body), busy);
  TraceCall(iface, method, flags, result);  // noexcept: a trace that cannot be written is left out
  return result;
}

// The same for the calls of an object that learnt once whether the trace is
// on (TracingOn).
template <typename Body>
HRESULT GuardTracedIf(bool traced, const char* iface, const char* method, ULONG flags, Body&& body) noexcept {
  const HRESULT result = GuardedBody(iface, method, std::forward<Body>(body), BusyFault::Delivers);
  if (traced) TraceCall(iface, method, flags, result);
  return result;
}

// The MAPI interface declarations have no virtual destructor; objects are only
// ever deleted through ComObject, whose destructor is virtual.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
template <typename Interface>
class ComObject : public Interface {
 public:
  ComObject() { CountObjectCreated(); }
  virtual ~ComObject() { CountObjectDestroyed(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !Supports(iid)) return E_NOINTERFACE;
    this->AddRef();
    *out = static_cast<Interface*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  // Interfaces besides IUnknown that this object answers.
  virtual bool Supports(REFIID iid) const = 0;

 private:
  std::atomic<ULONG> references_{1};
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace provider
