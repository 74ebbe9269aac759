// String resources read straight from RT_STRING blocks, so the language that
// serves a string is exactly the one asked for (LoadString would pick one).
#pragma once

#include <windows.h>

#include <cstddef>

namespace zqlocale {

// Finds string id of module in exactly language. On success text points
// into the module's resources (not terminated) and length is its number of
// characters. An empty entry counts as missing, as with LoadString.
bool FindResourceString(HMODULE module, LANGID language, UINT id, const wchar_t** text, size_t* length) noexcept;

// The language of the module's first string block (lowest block number,
// lowest language), or 0 when the module has no string resources.
LANGID StringTableLanguage(HMODULE module) noexcept;

}  // namespace zqlocale
