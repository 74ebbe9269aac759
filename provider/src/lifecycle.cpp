// MAPIInitialize / MAPIUninitialize and the flat entry points this store does not offer.
#include <windows.h>

#include <mapiform.h>
#include <mapix.h>

#include <atomic>

#include "diagnostics.h"

namespace provider {
std::atomic<long> g_initializeCount{0};
long InitializeCount() { return g_initializeCount.load(); }
}  // namespace provider

extern "C" HRESULT WINAPI MAPIInitialize(LPVOID lpMapiInit) {
  if (lpMapiInit) {
    const MAPIINIT_0* init = static_cast<const MAPIINIT_0*>(lpMapiInit);
    if (init->ulVersion != MAPI_INIT_VERSION) return MAPI_E_VERSION;
  }
  ++provider::g_initializeCount;
  provider::TraceCall("MAPI", "MAPIInitialize", 0, S_OK);
  return S_OK;
}

extern "C" void WINAPI MAPIUninitialize(void) {
  long count = provider::g_initializeCount.load();
  while (count > 0 && !provider::g_initializeCount.compare_exchange_weak(count, count - 1)) {
  }
}

extern "C" HRESULT WINAPI MAPIOpenFormMgr(LPMAPISESSION, LPMAPIFORMMGR* ppmgr) {
  if (ppmgr) *ppmgr = nullptr;
  return MAPI_E_NO_SUPPORT;
}

extern "C" HRESULT WINAPI MAPIAdminProfiles(ULONG, LPPROFADMIN* lppProfAdmin) {
  if (lppProfAdmin) *lppProfAdmin = nullptr;
  return MAPI_E_NO_SUPPORT;
}
