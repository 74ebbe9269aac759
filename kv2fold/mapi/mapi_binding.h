// Run-time binding of MAPI32.DLL: the module never links MAPI; it loads the
// library at the first KVEInitializeW and calls every flat MAPI function
// through g_MAPIFunctions. The entries are non-null whenever the module is
// initialised, so call sites do not check them.
#pragma once

#include <windows.h>

#include <mapiform.h>
#include <mapiutil.h>
#include <mapix.h>

// The thirteen entry points with the signatures MAPI publishes, in the order
// they are resolved. All standard-call.
struct MAPIFunctionTable {
  HRESULT(WINAPI* MAPIInitialize)(LPVOID lpMapiInit);
  void(WINAPI* MAPIUninitialize)(void);
  HRESULT(WINAPI* MAPILogonEx)(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword, ULONG ulFlags,
                               LPMAPISESSION* lppSession);
  SCODE(WINAPI* MAPIAllocateBuffer)(ULONG cbSize, LPVOID* lppBuffer);
  SCODE(WINAPI* MAPIAllocateMore)(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
  ULONG(WINAPI* MAPIFreeBuffer)(LPVOID lpBuffer);
  HRESULT(WINAPI* MAPIOpenFormMgr)(LPMAPISESSION pSession, LPMAPIFORMMGR* ppmgr);
  HRESULT(WINAPI* MAPIAdminProfiles)(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);
  void(WINAPI* FreeProws)(LPSRowSet lpRows);
  HRESULT(WINAPI* HrGetOneProp)(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp);
  HRESULT(WINAPI* HrQueryAllRows)(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                                  LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows);
  FILETIME(WINAPI* FtMulDwDw)(DWORD ftMultiplicand, DWORD ftMultiplier);
  FILETIME(WINAPI* FtNegFt)(FILETIME ft);
};
constexpr int kMAPIFunctionCount = 13;
static_assert(sizeof(MAPIFunctionTable) == kMAPIFunctionCount * sizeof(FARPROC),
              "MAPIFunctionTable holds exactly the thirteen entry points");

// The library's file name and the names of the five utility functions,
// which the 32-bit library exports decorated ("FreeProws@4") and the 64-bit
// one plainly. Writable, so tests can point the binding at another library.
struct MAPILibraryNames {
  const wchar_t* library;
  const char* freeProws;
  const char* hrGetOneProp;
  const char* hrQueryAllRows;
  const char* ftMulDwDw;
  const char* ftNegFt;
};

extern MAPILibraryNames g_MAPILibraryNames;
extern MAPIFunctionTable g_MAPIFunctions;
extern HMODULE g_mapiModule;  // the loaded library, or null
extern int g_mapiBound;       // 1 while every entry is filled, else 0

// Loads the library and resolves all thirteen entries; all or nothing.
// Returns 1 when bound; on 0 nothing is held.
int BindMAPI() noexcept;
// Clears the table and frees the library; harmless when nothing is bound.
void UnbindMAPI() noexcept;

// The steps of the two above.
int LoadMAPILibrary() noexcept;
int ResolveMAPIFunctions() noexcept;
void ClearMAPIFunctions() noexcept;
void FreeMAPILibrary() noexcept;

// Looks name up in the loaded library and stores the result in slot, also
// when it is null. Returns 1 when found.
template <typename Function>
int ResolveMAPIFunction(const char* name, Function* slot) noexcept {
  FARPROC address = g_mapiModule ? GetProcAddress(g_mapiModule, name) : nullptr;
  *slot = reinterpret_cast<Function>(address);
  return address != nullptr ? 1 : 0;
}
