#include "mapi/mapi_binding.h"

MAPILibraryNames g_MAPILibraryNames = {
    L"MAPI32.DLL",
#if defined(_WIN64)
    "FreeProws", "HrGetOneProp", "HrQueryAllRows", "FtMulDwDw", "FtNegFt",
#else
    "FreeProws@4", "HrGetOneProp@12", "HrQueryAllRows@24", "FtMulDwDw@8", "FtNegFt@8",
#endif
};

MAPIFunctionTable g_MAPIFunctions = {};
HMODULE g_mapiModule = nullptr;
int g_mapiBound = 0;

int LoadMAPILibrary() noexcept {
  g_mapiModule = LoadLibraryW(g_MAPILibraryNames.library);
  return g_mapiModule != nullptr ? 1 : 0;
}

int ResolveMAPIFunctions() noexcept {
  if (!g_mapiModule) return 0;
  MAPIFunctionTable& t = g_MAPIFunctions;
  const MAPILibraryNames& n = g_MAPILibraryNames;
  // In table order; the first name not found stops the walk.
  return ResolveMAPIFunction("MAPIInitialize", &t.MAPIInitialize) &&
         ResolveMAPIFunction("MAPIUninitialize", &t.MAPIUninitialize) &&
         ResolveMAPIFunction("MAPILogonEx", &t.MAPILogonEx) &&
         ResolveMAPIFunction("MAPIAllocateBuffer", &t.MAPIAllocateBuffer) &&
         ResolveMAPIFunction("MAPIAllocateMore", &t.MAPIAllocateMore) &&
         ResolveMAPIFunction("MAPIFreeBuffer", &t.MAPIFreeBuffer) &&
         ResolveMAPIFunction("MAPIOpenFormMgr", &t.MAPIOpenFormMgr) &&
         ResolveMAPIFunction("MAPIAdminProfiles", &t.MAPIAdminProfiles) &&
         ResolveMAPIFunction(n.freeProws, &t.FreeProws) && ResolveMAPIFunction(n.hrGetOneProp, &t.HrGetOneProp) &&
         ResolveMAPIFunction(n.hrQueryAllRows, &t.HrQueryAllRows) &&
         ResolveMAPIFunction(n.ftMulDwDw, &t.FtMulDwDw) && ResolveMAPIFunction(n.ftNegFt, &t.FtNegFt)
             ? 1
             : 0;
}

void ClearMAPIFunctions() noexcept { g_MAPIFunctions = MAPIFunctionTable{}; }

void FreeMAPILibrary() noexcept {
  if (g_mapiModule) FreeLibrary(g_mapiModule);
  g_mapiModule = nullptr;
}

int BindMAPI() noexcept {
  if (!LoadMAPILibrary() || !ResolveMAPIFunctions()) {
    UnbindMAPI();
    return 0;
  }
  g_mapiBound = 1;
  return 1;
}

void UnbindMAPI() noexcept {
  ClearMAPIFunctions();
  FreeMAPILibrary();
  g_mapiBound = 0;
}
