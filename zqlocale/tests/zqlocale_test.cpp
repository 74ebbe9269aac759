// zqlocale: language values, name patterns, which set serves a language,
// the string contract and the handle table. The test program itself is the
// "calling module": it carries the English fallback set, and ZqTestDEU.DLL
// and ZqTestDES.DLL lie beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "language.h"
#include "resource_set.h"
#include "zqlocale/zqlocale.h"

namespace {

const wchar_t kPattern[] = L"ZqTest%L.%X";
const wchar_t kSentinel = L'\x2603';

HINSTANCE Self() { return GetModuleHandleW(nullptr); }

// Sets KV_USER_LANGUAGE for one test and restores it afterwards.
class ScopedUserLanguage {
 public:
  explicit ScopedUserLanguage(const wchar_t* value) {
    wchar_t old[64];
    DWORD length = GetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, old, 64);
    hadValue_ = length > 0 && length < 64;
    if (hadValue_) old_ = old;
    SetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, value);
  }
  ~ScopedUserLanguage() {
    SetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, hadValue_ ? old_.c_str() : nullptr);
  }

 private:
  bool hadValue_ = false;
  std::wstring old_;
};

// A resource set of the test program, closed at the end of the test.
class OpenSet {
 public:
  explicit OpenSet(DWORD flags = ZQLOCALE_MODULE_FALLBACK)
      : handle_(LocaleOpenResources(Self(), 0, kPattern, flags)) {}
  ~OpenSet() { LocaleCloseResources(handle_); }
  LocaleHandle get() const { return handle_; }

 private:
  LocaleHandle handle_;
};

// The string as loaded, or "<missing>" when the load failed.
std::wstring Load(LocaleHandle handle, DWORD language, UINT id) {
  wchar_t buffer[256];
  int length = LocaleLoadString(handle, language, id, buffer, 255);
  if (length == 0) return L"<missing>";
  EXPECT_EQ(static_cast<size_t>(length), wcslen(buffer)) << "the result counts the characters stored";
  return buffer;
}

TEST(ZqlocaleLanguage, OverrideVariableAcceptsOnlyConcreteHexLanguages) {
  struct Case {
    const wchar_t* text;
    bool accepted;
    LANGID language;
  } cases[] = {
      {L"0407", true, 0x0407},  {L"0x0413", true, 0x0413}, {L"0X040b", true, 0x040B},
      {L" 409 ", true, 0x0409}, {L"c07", true, 0x0C07},    {L"", false, 0},
      {L"0x", false, 0},        {L"12345", false, 0},      {L"0400", false, 0},
      {L"0800", false, 0},      {L"0000", false, 0},       {L"german", false, 0},
      {L"0407x", false, 0},     {L"-407", false, 0},
  };
  for (const Case& c : cases) {
    LANGID language = 0xBEEF;
    EXPECT_EQ(c.accepted, zqlocale::ParseLanguageOverride(c.text, &language)) << "text \"" << testing::PrintToString(std::wstring(c.text)) << "\"";
    if (c.accepted) {
      EXPECT_EQ(c.language, language);
    } else {
      EXPECT_EQ(0xBEEF, language) << "a refused text must not change the result";
    }
  }
}

TEST(ZqlocaleLanguage, UserLanguageComesFromTheVariableElseTheSystem) {
  {
    ScopedUserLanguage german(L"0407");
    EXPECT_EQ(0x0407u, LocaleGetUserLanguage());
    EXPECT_EQ(0x0407, zqlocale::ConcreteLanguage(0x0400));
    EXPECT_EQ(0x0407, zqlocale::ConcreteLanguage(0x0000));
  }
  {
    ScopedUserLanguage invalid(L"0400");
    EXPECT_EQ(GetUserDefaultUILanguage(), LocaleGetUserLanguage());
  }
  {
    ScopedUserLanguage unset(nullptr);
    EXPECT_EQ(GetUserDefaultUILanguage(), LocaleGetUserLanguage());
  }
  EXPECT_EQ(GetSystemDefaultUILanguage(), zqlocale::ConcreteLanguage(0x0800));
  EXPECT_EQ(0x0413, zqlocale::ConcreteLanguage(0x0413));
  EXPECT_EQ(0x0407, zqlocale::ConcreteLanguage(0x00010407)) << "a sort identifier above the language is ignored";
}

TEST(ZqlocaleLanguage, AbbreviationsNameTheSatelliteFiles) {
  struct Case {
    LANGID language;
    const wchar_t* abbreviation;
  } cases[] = {
      {0x0409, L"ENU"}, {0x0407, L"DEU"}, {0x0807, L"DES"}, {0x0C07, L"DEA"},
      {0x0413, L"NLD"}, {0x040B, L"FIN"}, {0x041D, L"SVE"}, {0x040C, L"FRA"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(c.abbreviation), zqlocale::LanguageAbbreviation(c.language)) << std::hex << c.language;
  }
  EXPECT_EQ(std::wstring(), zqlocale::LanguageAbbreviation(0x7C7C)) << "an unknown language has no file";
}

TEST(ZqlocaleNamePattern, ExpandsLanguageExtensionAndPercent) {
  struct Case {
    const wchar_t* pattern;
    const wchar_t* expanded;
  } cases[] = {
      {L"N4Kfd%L.%X", L"N4KfdDEU.DLL"}, {L"%L%L", L"DEUDEU"}, {L"100%%", L"100%"},
      {L"%%L", L"%L"},                  {L"a%Qb", L"a%Qb"},   {L"end%", L"end%"},
      {L"plain.dll", L"plain.dll"},     {L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(c.expanded), zqlocale::ExpandNamePattern(c.pattern, L"DEU"))
        << testing::PrintToString(std::wstring(c.pattern));
  }
}

// Which set serves a language: exact satellite, primary language's default
// satellite, then the module's own set; a serving set that lacks a string
// fails it.
TEST(ZqlocaleResolution, LanguagesReachTheirSetsInOrder) {
  OpenSet set;
  ASSERT_NE(0u, set.get());
  struct Case {
    DWORD language;
    UINT id;
    const wchar_t* expected;
  } cases[] = {
      {0x0407, 1, L"Ordner"},
      {0x0407, 3, L"Gr\u00fc\u00dfe"},
      {0x0407, 2, L"<missing>"},  // only an English 2 in the German file; no fall-through
      {0x0407, 40, L"<missing>"},
      {0x0807, 1, L"Ordner (Schweiz)"},
      {0x0807, 3, L"<missing>"},  // the Swiss set exists, so German is not consulted
      {0x0C07, 1, L"Ordner"},     // Austria: no DEA file, German's default sublanguage
      {0x0C07, 3, L"Gr\u00fc\u00dfe"},
      {0x040C, 1, L"Folder"},  // French: no set, the module's own
      {0x040C, 2, L"Only in English"},
      {0x0409, 40, L"Forty"},
      {0x0409, 65535, L"Last id"},
      {0x0409, 5, L"<missing>"},
      {0x0409, 65536, L"<missing>"},
      {0x7C7C, 1, L"Folder"},  // unknown language
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(c.expected), Load(set.get(), c.language, c.id))
        << "language " << std::hex << c.language << std::dec << " string " << c.id;
  }
}

TEST(ZqlocaleResolution, PlaceholderLanguagesFollowTheUser) {
  OpenSet set;
  {
    ScopedUserLanguage german(L"0407");
    EXPECT_EQ(L"Ordner", Load(set.get(), 0x0400, 1));
    EXPECT_EQ(L"Ordner", Load(set.get(), 0x0000, 1));
  }
  {
    ScopedUserLanguage swiss(L"0807");
    EXPECT_EQ(L"Ordner (Schweiz)", Load(set.get(), 0x0400, 1)) << "the user language is read on every call";
  }
  {
    ScopedUserLanguage french(L"040C");
    EXPECT_EQ(L"Folder", Load(set.get(), 0x0400, 1));
  }
}

TEST(ZqlocaleResolution, WithoutModuleFallbackOnlySatellitesServe) {
  OpenSet set(0);
  ASSERT_NE(0u, set.get());
  EXPECT_EQ(L"Ordner", Load(set.get(), 0x0407, 1));
  EXPECT_EQ(L"<missing>", Load(set.get(), 0x040C, 1));
  EXPECT_EQ(nullptr, LocaleGetResourceModule(set.get(), 0x040C));
}

TEST(ZqlocaleResolution, BrokenSatelliteFileIsPassedOver) {
  // An Italian "satellite" that is not a PE file.
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::wstring file(path, length);
  file.erase(file.find_last_of(L"\\/") + 1);
  file += L"ZqTestITA.DLL";
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD written = 0;
  WriteFile(h, "not a module", 12, &written, nullptr);
  CloseHandle(h);
  {
    OpenSet set;
    EXPECT_EQ(L"Folder", Load(set.get(), 0x0410, 1));
    EXPECT_EQ(Self(), LocaleGetResourceModule(set.get(), 0x0410));
  }
  DeleteFileW(file.c_str());
}

TEST(ZqlocaleStrings, BufferContract) {
  OpenSet set;
  wchar_t buffer[8];
  // At most maxChars characters, then a terminator; nothing beyond.
  std::fill(buffer, buffer + 8, kSentinel);
  EXPECT_EQ(3, LocaleLoadString(set.get(), 0x0409, 1, buffer, 3));
  EXPECT_EQ(std::wstring(L"Fol"), std::wstring(buffer));
  EXPECT_EQ(kSentinel, buffer[4]);
  // Exactly fitting.
  std::fill(buffer, buffer + 8, kSentinel);
  EXPECT_EQ(6, LocaleLoadString(set.get(), 0x0409, 1, buffer, 6));
  EXPECT_EQ(std::wstring(L"Folder"), std::wstring(buffer));
  EXPECT_EQ(kSentinel, buffer[7]);
  // Failures leave the buffer alone.
  std::fill(buffer, buffer + 8, kSentinel);
  EXPECT_EQ(0, LocaleLoadString(set.get(), 0x0409, 5, buffer, 7));
  EXPECT_EQ(0, LocaleLoadString(set.get(), 0x0409, 1, buffer, 0));
  EXPECT_EQ(0, LocaleLoadString(set.get(), 0x0409, 1, buffer, -1));
  EXPECT_EQ(0, LocaleLoadString(0, 0x0409, 1, buffer, 7));
  EXPECT_EQ(kSentinel, buffer[0]);
  EXPECT_EQ(0, LocaleLoadString(set.get(), 0x0409, 1, nullptr, 7));
}

TEST(ZqlocaleHandles, OpenCloseAndNeverReused) {
  EXPECT_EQ(0u, LocaleOpenResources(nullptr, 0, kPattern, 1));
  EXPECT_EQ(0u, LocaleOpenResources(Self(), 0, nullptr, 1));
  EXPECT_EQ(0u, LocaleOpenResources(Self(), 0, L"", 1));

  LocaleHandle first = LocaleOpenResources(Self(), 0, kPattern, 1);
  LocaleHandle second = LocaleOpenResources(Self(), 0, kPattern, 1);
  ASSERT_NE(0u, first);
  ASSERT_NE(0u, second);
  EXPECT_NE(first, second);
  EXPECT_EQ(L"Ordner", Load(first, 0x0407, 1));

  EXPECT_TRUE(LocaleCloseResources(first));
  EXPECT_FALSE(LocaleCloseResources(first)) << "closing twice is harmless";
  EXPECT_FALSE(LocaleCloseResources(0));
  EXPECT_EQ(L"<missing>", Load(first, 0x0407, 1)) << "a closed handle serves nothing";
  EXPECT_EQ(nullptr, LocaleGetResourceModule(first, 0x0409));
  EXPECT_EQ(L"Ordner", Load(second, 0x0407, 1)) << "closing one set leaves the others";

  LocaleHandle third = LocaleOpenResources(Self(), 0, kPattern, 1);
  EXPECT_NE(first, third);
  EXPECT_NE(second, third);
  EXPECT_EQ(second + 1, third) << "handles count up";
  LocaleCloseResources(second);
  LocaleCloseResources(third);
}

TEST(ZqlocaleHandles, ResourceModulesAreSatellitesOrTheModule) {
  OpenSet set;
  HINSTANCE german = LocaleGetResourceModule(set.get(), 0x0407);
  ASSERT_NE(nullptr, german);
  EXPECT_NE(Self(), german);
  EXPECT_EQ(german, LocaleGetResourceModule(set.get(), 0x0C07)) << "one load per satellite file";
  EXPECT_EQ(german, LocaleGetResourceModule(set.get(), 0x0407)) << "kept for the handle";
  EXPECT_NE(nullptr, FindResourceExW(german, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(1), 0x0407))
      << "the instance can load the set's resources";
  EXPECT_EQ(Self(), LocaleGetResourceModule(set.get(), 0x0409));

  // Another handle loads its own copy, and closing the first frees only its own.
  OpenSet other;
  HINSTANCE otherGerman = LocaleGetResourceModule(other.get(), 0x0407);
  ASSERT_NE(nullptr, otherGerman);
  LocaleCloseResources(set.get());
  EXPECT_NE(nullptr, FindResourceExW(otherGerman, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(1), 0x0407));
  EXPECT_EQ(L"Ordner", Load(other.get(), 0x0407, 1));
}

TEST(ZqlocaleHandles, ClosingFreesTheSatellites) {
  LocaleHandle handle = LocaleOpenResources(Self(), 0, kPattern, 1);
  HINSTANCE german = LocaleGetResourceModule(handle, 0x0407);
  ASSERT_NE(nullptr, german);
  // Image-resource handles carry flag bits in the low bits of the address.
  const void* base = reinterpret_cast<const void*>(reinterpret_cast<ULONG_PTR>(german) & ~ULONG_PTR(3));
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_NE(0u, VirtualQuery(base, &info, sizeof info));
  EXPECT_NE(static_cast<DWORD>(MEM_FREE), info.State);
  LocaleCloseResources(handle);
  ASSERT_NE(0u, VirtualQuery(base, &info, sizeof info));
  EXPECT_EQ(static_cast<DWORD>(MEM_FREE), info.State) << "the satellite is unmapped at close";
}

// The shipped library: five exports, by ordinal only.
TEST(ZqlocaleLibrary, ExportsByOrdinalOnly) {
  HMODULE library = LoadLibraryW(L"zqlocale-1-0.dll");
  ASSERT_NE(nullptr, library);
  for (WORD ordinal : {3, 50, 51, 52, 53}) {
    EXPECT_NE(nullptr, GetProcAddress(library, MAKEINTRESOURCEA(ordinal))) << "ordinal " << ordinal;
  }
  for (const char* name : {"LocaleGetUserLanguage", "LocaleOpenResources", "LocaleCloseResources",
                           "LocaleGetResourceModule", "LocaleLoadString"}) {
    EXPECT_EQ(nullptr, GetProcAddress(library, name)) << name << " must not be exported by name";
  }

  using Open = LocaleHandle(WINAPI*)(HINSTANCE, DWORD, const wchar_t*, DWORD);
  using Close = BOOL(WINAPI*)(LocaleHandle);
  using LoadString = int(WINAPI*)(LocaleHandle, DWORD, UINT, wchar_t*, int);
  using UserLanguage = DWORD(WINAPI*)();
  auto open = reinterpret_cast<Open>(GetProcAddress(library, MAKEINTRESOURCEA(50)));
  auto close = reinterpret_cast<Close>(GetProcAddress(library, MAKEINTRESOURCEA(51)));
  auto load = reinterpret_cast<LoadString>(GetProcAddress(library, MAKEINTRESOURCEA(53)));
  auto user = reinterpret_cast<UserLanguage>(GetProcAddress(library, MAKEINTRESOURCEA(3)));
  ASSERT_TRUE(open && close && load && user);
  {
    ScopedUserLanguage swedish(L"041D");
    EXPECT_EQ(0x041Du, user());
  }
  LocaleHandle handle = open(Self(), 0, kPattern, ZQLOCALE_MODULE_FALLBACK);
  ASSERT_NE(0u, handle);
  wchar_t buffer[32] = {};
  EXPECT_EQ(5, load(handle, 0x0407, 3, buffer, 31));
  EXPECT_EQ(std::wstring(L"Gr\u00fc\u00dfe"), std::wstring(buffer));
  EXPECT_EQ(6, load(handle, 0x0409, 1, buffer, 31));
  EXPECT_TRUE(close(handle));
  EXPECT_FALSE(close(handle));
  FreeLibrary(library);
}

}  // namespace
