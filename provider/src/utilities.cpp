// The MAPI utility functions of the flat interface.
#include <windows.h>

#include <mapiutil.h>
#include <mapix.h>

#include "properties.h"

extern "C" void WINAPI FreeProws(LPSRowSet lpRows) {
  if (!lpRows) return;
  for (ULONG i = 0; i < lpRows->cRows; ++i) MAPIFreeBuffer(lpRows->aRow[i].lpProps);
  MAPIFreeBuffer(lpRows);
}

extern "C" HRESULT WINAPI HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp) {
  if (!lppProp) return MAPI_E_INVALID_PARAMETER;
  *lppProp = nullptr;
  if (!lpMapiProp) return MAPI_E_INVALID_PARAMETER;
  SizedSPropTagArray(1, tags) = {1, {ulPropTag}};
  ULONG count = 0;
  LPSPropValue raw = nullptr;
  HRESULT hr = lpMapiProp->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw);
  provider::MapiBuffer<SPropValue> values(raw);
  if (FAILED(hr)) return hr;
  if (!values || count != 1) return MAPI_E_NOT_FOUND;
  if (PROP_TYPE(values->ulPropTag) == PT_ERROR)
    return values->Value.err ? static_cast<HRESULT>(values->Value.err) : MAPI_E_NOT_FOUND;
  *lppProp = values.release();
  return S_OK;
}

extern "C" HRESULT WINAPI HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                                         LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
                                         LONG crowsMax, LPSRowSet* lppRows) {
  if (!lppRows) return MAPI_E_INVALID_PARAMETER;
  *lppRows = nullptr;
  if (!lpTable) return MAPI_E_INVALID_PARAMETER;
  HRESULT hr = S_OK;
  if (lpPropTags && FAILED(hr = lpTable->SetColumns(lpPropTags, 0))) return hr;
  if (lpRestriction && FAILED(hr = lpTable->Restrict(lpRestriction, 0))) return hr;
  if (lpSortOrderSet && FAILED(hr = lpTable->SortTable(lpSortOrderSet, 0))) return hr;
  if (FAILED(hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) return hr;
  ULONG total = 0;
  if (FAILED(hr = lpTable->GetRowCount(0, &total))) return hr;
  if (crowsMax > 0 && total > static_cast<ULONG>(crowsMax)) return MAPI_E_TABLE_TOO_BIG;
  LONG request = total > 0 ? static_cast<LONG>(total) : 1;
  return lpTable->QueryRows(request, 0, lppRows);
}

extern "C" FILETIME WINAPI FtMulDwDw(DWORD ftMultiplicand, DWORD ftMultiplier) {
  ULONGLONG product = static_cast<ULONGLONG>(ftMultiplicand) * ftMultiplier;
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(product);
  result.dwHighDateTime = static_cast<DWORD>(product >> 32);
  return result;
}

extern "C" FILETIME WINAPI FtNegFt(FILETIME ft) {
  ULONGLONG value = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  value = 0 - value;
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(value);
  result.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return result;
}
