#include "platform/module_resources.h"

#include "interface/kve_api.h"
#include "platform/locale_library.h"
#include "platform/wide_text.h"

ModuleResources g_ModuleResources;

HINSTANCE LanguageResourceModule(DWORD language) noexcept {
  return GetLocaleResourceModule(g_ModuleResources.localeHandle, language);
}

int LoadResourceString(UINT id, wchar_t* buffer, int maxChars, DWORD language) noexcept {
  if (!buffer) return KVE_NO_STRING;
  return LoadLocaleString(g_ModuleResources.localeHandle, language, id, buffer, maxChars) != 0 ? KVE_OK : KVE_NO_STRING;
}

void LoadResourceFormat(UINT id, wchar_t* buffer, int maxChars, DWORD language, const wchar_t* fallback) noexcept {
  if (!buffer || maxChars < 0) return;
  if (LoadResourceString(id, buffer, maxChars, language) == KVE_OK && TakesSameArguments(buffer, fallback)) return;
  CopyWide(buffer, static_cast<size_t>(maxChars) + 1, fallback, static_cast<size_t>(maxChars));
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
