// A MAPI library that answers nothing: it only has to export names, so the
// binding can be tested against a library that lacks one of them.
#include <windows.h>

#include <mapiform.h>
#include <mapiutil.h>
#include <mapix.h>

extern "C" {
HRESULT WINAPI MAPIInitialize(LPVOID) { return MAPI_E_NO_SUPPORT; }
void WINAPI MAPIUninitialize(void) {}
HRESULT WINAPI MAPILogonEx(ULONG_PTR, LPTSTR, LPTSTR, ULONG, LPMAPISESSION*) { return MAPI_E_NO_SUPPORT; }
SCODE WINAPI MAPIAllocateBuffer(ULONG, LPVOID*) { return MAPI_E_NO_SUPPORT; }
SCODE WINAPI MAPIAllocateMore(ULONG, LPVOID, LPVOID*) { return MAPI_E_NO_SUPPORT; }
ULONG WINAPI MAPIFreeBuffer(LPVOID) { return 0; }
HRESULT WINAPI MAPIOpenFormMgr(LPMAPISESSION, LPMAPIFORMMGR*) { return MAPI_E_NO_SUPPORT; }
HRESULT WINAPI MAPIAdminProfiles(ULONG, LPPROFADMIN*) { return MAPI_E_NO_SUPPORT; }
void WINAPI FreeProws(LPSRowSet) {}
HRESULT WINAPI HrGetOneProp(LPMAPIPROP, ULONG, LPSPropValue*) { return MAPI_E_NO_SUPPORT; }
HRESULT WINAPI HrQueryAllRows(LPMAPITABLE, LPSPropTagArray, LPSRestriction, LPSSortOrderSet, LONG, LPSRowSet*) {
  return MAPI_E_NO_SUPPORT;
}
FILETIME WINAPI FtMulDwDw(DWORD, DWORD) { return FILETIME{}; }
FILETIME WINAPI FtNegFt(FILETIME) { return FILETIME{}; }
}
