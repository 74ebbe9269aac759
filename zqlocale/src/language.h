// Language identifiers: the user's language and what a requested value means.
#pragma once

#include <windows.h>

#include <string>

namespace zqlocale {

// Reads a language from the override variable's text: 1 to 4 hexadecimal
// digits, optionally after "0x", naming a concrete language (primary
// language not neutral). False for anything else.
bool ParseLanguageOverride(const wchar_t* text, LANGID* language) noexcept;

// The override variable when it holds a concrete language, else the
// system's user interface language.
LANGID UserLanguage() noexcept;

// The language a request means: placeholders with a neutral primary
// language become the user's language (0x0800: the system's).
LANGID ConcreteLanguage(DWORD requested) noexcept;

// The language's three-letter abbreviation ("DEU"); empty when the system
// does not know the language.
std::wstring LanguageAbbreviation(LANGID language);

}  // namespace zqlocale
