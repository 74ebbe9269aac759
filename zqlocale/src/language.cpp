#include "language.h"

#include "zqlocale/zqlocale.h"

namespace zqlocale {

namespace {

int HexDigit(wchar_t c) noexcept {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace

bool ParseLanguageOverride(const wchar_t* text, LANGID* language) noexcept {
  if (!text || !language) return false;
  while (*text == L' ') ++text;
  if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) text += 2;
  unsigned value = 0;
  int digits = 0;
  for (; HexDigit(*text) >= 0; ++text) {
    if (++digits > 4) return false;
    value = value * 16 + static_cast<unsigned>(HexDigit(*text));
  }
  while (*text == L' ') ++text;
  if (digits == 0 || *text != L'\0') return false;
  LANGID parsed = static_cast<LANGID>(value);
  if (PRIMARYLANGID(parsed) == LANG_NEUTRAL) return false;
  *language = parsed;
  return true;
}

LANGID UserLanguage() noexcept {
  wchar_t text[32];
  DWORD length = GetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, text, 32);
  LANGID language = 0;
  if (length > 0 && length < 32 && ParseLanguageOverride(text, &language)) return language;
  return GetUserDefaultUILanguage();
}

LANGID ConcreteLanguage(DWORD requested) noexcept {
  LANGID language = LANGIDFROMLCID(requested);
  if (PRIMARYLANGID(language) != LANG_NEUTRAL) return language;
  if (SUBLANGID(language) == SUBLANG_SYS_DEFAULT) return GetSystemDefaultUILanguage();
  return UserLanguage();
}

std::wstring LanguageAbbreviation(LANGID language) {
  wchar_t text[16];
  int length = GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SABBREVLANGNAME, text, 16);
  if (length <= 1) return std::wstring();
  return std::wstring(text, static_cast<size_t>(length - 1));
}

}  // namespace zqlocale
