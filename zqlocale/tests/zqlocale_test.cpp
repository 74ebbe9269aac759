// zqlocale: which set serves a language, the string contract and the handle
// table. The test program is the "calling module": it carries the English
// fallback set; ZqTestDEU.DLL and ZqTestDES.DLL lie beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "language.h"
#include "resource_set.h"
#include "zqlocale/zqlocale.h"

namespace {

const wchar_t kPattern[] = L"ZqTest%L.%X";
const wchar_t kGreetings[] = L"Gr\u00fc\u00dfe";  // from a UTF-8 script

HINSTANCE Self() { return GetModuleHandleW(nullptr); }

void SetUserLanguage(const wchar_t* value) { SetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, value); }

// A resource set of the test program, closed at the end of the test.
struct OpenSet {
  explicit OpenSet(DWORD flags = ZQLOCALE_MODULE_FALLBACK)
      : handle(LocaleOpenResources(Self(), 0, kPattern, flags)) {}
  ~OpenSet() { LocaleCloseResources(handle); }
  LocaleHandle handle;
};

// The string as loaded, or "<missing>".
std::wstring Load(LocaleHandle handle, DWORD language, UINT id) {
  wchar_t buffer[256];
  int length = LocaleLoadString(handle, language, id, buffer, 255);
  if (length == 0) return L"<missing>";
  EXPECT_EQ(static_cast<size_t>(length), wcslen(buffer)) << "the result counts the characters stored";
  return buffer;
}

TEST(ZqlocaleLanguage, OverrideVariableTakesOnlyConcreteHexLanguages) {
  const wchar_t* accepted[] = {L"0407", L"0x0407", L" 407 "};
  const wchar_t* refused[] = {L"", L"0x", L"12345", L"0400", L"0800", L"0000", L"german", L"0407x"};
  for (const wchar_t* text : accepted) {
    LANGID language = 0;
    EXPECT_TRUE(zqlocale::ParseLanguageOverride(text, &language)) << testing::PrintToString(std::wstring(text));
    EXPECT_EQ(0x0407, language);
  }
  for (const wchar_t* text : refused) {
    LANGID language = 0xBEEF;
    EXPECT_FALSE(zqlocale::ParseLanguageOverride(text, &language)) << testing::PrintToString(std::wstring(text));
    EXPECT_EQ(0xBEEF, language);
  }
}

TEST(ZqlocaleNamePattern, ExpandsLanguageExtensionAndPercent) {
  const wchar_t* cases[][2] = {{L"N4Kfd%L.%X", L"N4KfdDEU.DLL"}, {L"%L%L", L"DEUDEU"}, {L"%%L", L"%L"},
                               {L"a%Qb", L"a%Qb"}, {L"end%", L"end%"}};
  for (auto& c : cases) {
    EXPECT_EQ(std::wstring(c[1]), zqlocale::ExpandNamePattern(c[0], L"DEU")) << testing::PrintToString(std::wstring(c[0]));
  }
}

// Exact satellite, then the primary language's default satellite, then the
// module's own set; a serving set that lacks a string fails it.
TEST(ZqlocaleResolution, LanguagesReachTheirSetsInOrder) {
  OpenSet set;
  ASSERT_NE(0u, set.handle);
  struct Case {
    DWORD language;
    UINT id;
    const wchar_t* expected;
  } cases[] = {
      {0x0407, 1, L"Ordner"},
      {0x0407, 3, kGreetings},
      {0x0407, 2, L"<missing>"},  // the German file has only an English 2: no fall-through
      {0x0807, 1, L"Ordner (Schweiz)"},
      {0x0807, 3, L"<missing>"},  // the Swiss set exists, so German is not consulted
      {0x0C07, 3, kGreetings},    // Austria: no DEA file, German's default sublanguage
      {0x040C, 2, L"Only in English"},  // French: no set, the module's own
      {0x0409, 65535, L"Last id"},
      {0x0409, 5, L"<missing>"},
      {0x0409, 65536, L"<missing>"},
      {0x00010407, 1, L"Ordner"},  // a sort identifier above the language is ignored
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(c.expected), Load(set.handle, c.language, c.id))
        << "language " << std::hex << c.language << std::dec << " string " << c.id;
  }

  OpenSet satellitesOnly(0);
  EXPECT_EQ(L"Ordner", Load(satellitesOnly.handle, 0x0407, 1));
  EXPECT_EQ(L"<missing>", Load(satellitesOnly.handle, 0x040C, 1));
  EXPECT_EQ(nullptr, LocaleGetResourceModule(satellitesOnly.handle, 0x040C));
}

TEST(ZqlocaleResolution, PlaceholderLanguagesFollowTheUserOnEveryCall) {
  OpenSet set;
  SetUserLanguage(L"0407");
  EXPECT_EQ(0x0407u, LocaleGetUserLanguage());
  EXPECT_EQ(L"Ordner", Load(set.handle, 0x0400, 1));
  EXPECT_EQ(L"Ordner", Load(set.handle, 0x0000, 1));
  SetUserLanguage(L"0807");
  EXPECT_EQ(L"Ordner (Schweiz)", Load(set.handle, 0x0400, 1));
  SetUserLanguage(L"0400");  // not a concrete language: ignored
  EXPECT_EQ(GetUserDefaultUILanguage(), LocaleGetUserLanguage());
  SetUserLanguage(nullptr);
  EXPECT_EQ(GetUserDefaultUILanguage(), LocaleGetUserLanguage());
  EXPECT_EQ(GetSystemDefaultUILanguage(), zqlocale::ConcreteLanguage(0x0800));
}

TEST(ZqlocaleStrings, StoresAtMostMaxCharsAndTouchesNothingOnFailure) {
  OpenSet set;
  wchar_t buffer[8];
  std::fill(buffer, buffer + 8, L'#');
  EXPECT_EQ(3, LocaleLoadString(set.handle, 0x0409, 1, buffer, 3));
  EXPECT_EQ(std::wstring(L"Fol"), std::wstring(buffer));
  EXPECT_EQ(L'#', buffer[4]);
  std::fill(buffer, buffer + 8, L'#');
  EXPECT_EQ(0, LocaleLoadString(set.handle, 0x0409, 5, buffer, 7));
  EXPECT_EQ(0, LocaleLoadString(set.handle, 0x0409, 1, buffer, 0));
  EXPECT_EQ(0, LocaleLoadString(0, 0x0409, 1, buffer, 7));
  EXPECT_EQ(L'#', buffer[0]);
  EXPECT_EQ(0, LocaleLoadString(set.handle, 0x0409, 1, nullptr, 7));
}

TEST(ZqlocaleHandles, CountUpAreNeverReusedAndCloseOnlyTheirOwnSet) {
  EXPECT_EQ(0u, LocaleOpenResources(nullptr, 0, kPattern, 1));
  EXPECT_EQ(0u, LocaleOpenResources(Self(), 0, L"", 1));
  LocaleHandle first = LocaleOpenResources(Self(), 0, kPattern, 1);
  LocaleHandle second = LocaleOpenResources(Self(), 0, kPattern, 1);
  ASSERT_NE(0u, first);
  EXPECT_EQ(first + 1, second);

  HINSTANCE german = LocaleGetResourceModule(first, 0x0407);
  ASSERT_NE(nullptr, german);
  EXPECT_NE(Self(), german);
  EXPECT_EQ(german, LocaleGetResourceModule(first, 0x0C07)) << "one load per satellite file and handle";
  EXPECT_EQ(Self(), LocaleGetResourceModule(first, 0x0409));
  HINSTANCE otherGerman = LocaleGetResourceModule(second, 0x0407);

  EXPECT_TRUE(LocaleCloseResources(first));
  EXPECT_FALSE(LocaleCloseResources(first)) << "closing twice is harmless";
  EXPECT_EQ(L"<missing>", Load(first, 0x0407, 1));
  EXPECT_EQ(nullptr, LocaleGetResourceModule(first, 0x0409));
  // The satellite is unmapped (image-resource handles carry flags in the low bits): nothing is committed there
  // any more (32-bit Wine under qemu keeps the address range reserved, others free it).
  MEMORY_BASIC_INFORMATION info{};
  VirtualQuery(reinterpret_cast<void*>(reinterpret_cast<ULONG_PTR>(german) & ~ULONG_PTR(3)), &info, sizeof info);
  EXPECT_NE(static_cast<DWORD>(MEM_COMMIT), info.State);
  // The other handle keeps its own copy.
  EXPECT_EQ(L"Ordner", Load(second, 0x0407, 1));
  EXPECT_EQ(otherGerman, LocaleGetResourceModule(second, 0x0407));

  LocaleHandle third = LocaleOpenResources(Self(), 0, kPattern, 1);
  EXPECT_EQ(second + 1, third) << "a closed handle is not handed out again";
  LocaleCloseResources(second);
  LocaleCloseResources(third);
}

// The shipped library: the five operations by ordinal, none by name.
TEST(ZqlocaleLibrary, ExportsByOrdinalOnly) {
  HMODULE library = LoadLibraryW(L"zqlocale-1-0.dll");
  ASSERT_NE(nullptr, library);
  for (WORD ordinal : {3, 50, 51, 52, 53}) EXPECT_NE(nullptr, GetProcAddress(library, MAKEINTRESOURCEA(ordinal)));
  EXPECT_EQ(nullptr, GetProcAddress(library, "LocaleLoadString"));
  EXPECT_EQ(nullptr, GetProcAddress(library, "LocaleOpenResources"));

  auto open = reinterpret_cast<decltype(&LocaleOpenResources)>(GetProcAddress(library, MAKEINTRESOURCEA(50)));
  auto close = reinterpret_cast<decltype(&LocaleCloseResources)>(GetProcAddress(library, MAKEINTRESOURCEA(51)));
  auto load = reinterpret_cast<decltype(&LocaleLoadString)>(GetProcAddress(library, MAKEINTRESOURCEA(53)));
  LocaleHandle handle = open(Self(), 0, kPattern, ZQLOCALE_MODULE_FALLBACK);
  wchar_t buffer[32] = {};
  EXPECT_EQ(5, load(handle, 0x0407, 3, buffer, 31));
  EXPECT_EQ(std::wstring(kGreetings), std::wstring(buffer));
  EXPECT_TRUE(close(handle));
  FreeLibrary(library);
}

}  // namespace
