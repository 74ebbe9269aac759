#include "platform/locale_library.h"

const wchar_t kModuleResourcePattern[] = L"N4Kfd%L.%X";

LocaleHandle OpenModuleResources(HINSTANCE moduleInstance) noexcept {
  return LocaleOpenResources(moduleInstance, 0, kModuleResourcePattern, ZQLOCALE_MODULE_FALLBACK);
}

void CloseModuleResources(LocaleHandle handle) noexcept { LocaleCloseResources(handle); }

HINSTANCE GetLocaleResourceModule(LocaleHandle handle, DWORD language) noexcept {
  return LocaleGetResourceModule(handle, language);
}

int LoadLocaleString(LocaleHandle handle, DWORD language, UINT id, wchar_t* buffer, int maxChars) noexcept {
  return LocaleLoadString(handle, language, id, buffer, maxChars);
}

DWORD GetLocaleUserLanguage() noexcept { return LocaleGetUserLanguage(); }
