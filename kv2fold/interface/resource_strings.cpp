#include "interface/resource_strings.h"

#include "interface/kve_api.h"
#include "interface/module_state.h"
#include "platform/locale_library.h"
#include "platform/wide_text.h"

int LoadResourceString(UINT id, wchar_t* buffer, int maxChars, DWORD language) noexcept {
  if (!buffer) return KVE_NO_STRING;
  return LoadLocaleString(g_ModuleState.localeHandle, language, id, buffer, maxChars) != 0 ? KVE_OK : KVE_NO_STRING;
}

int LoadResourceStringCopy(UINT id, wchar_t** outString, DWORD language) noexcept {
  if (!outString) return KVE_NO_STRING;
  wchar_t text[256];
  int result = LoadResourceString(id, text, 254, language);
  if (result != KVE_OK) return result;
  wchar_t* copy = ModuleDupWide(text);
  if (!copy) return KVE_NO_MEMORY;
  *outString = copy;
  return KVE_OK;
}
