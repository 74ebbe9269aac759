// Reference-counted initialisation: what the first KVEInitializeW acquires,
// what repeated calls leave alone, and that every failing step leaves the
// module uninitialised with nothing held; the destination lists it hands
// out. The test program is the module here: it carries the English set, and
// the satellites lie beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interface/destination_list.h"
#include "interface/kve_api.h"
#include "interface/module_state.h"
#include "kvtest/environment.h"
#include "mapi/mapi_binding.h"
#include "platform/locale_library.h"
#include "platform/module_resources.h"
#include "tests/support/allocation_failure.h"

namespace {

using kvtest::ScopedUserLanguage;

// The handle the module's next open will get: zqlocale counts handles up and
// never reuses one. Opens and closes a probe set.
LocaleHandle NextLocaleHandle() {
  LocaleHandle probe = OpenModuleResources(GetModuleHandleW(nullptr));
  CloseModuleResources(probe);
  return probe + 1;
}

// An open set of the module always serves English, its own fallback.
bool IsOpen(LocaleHandle handle) { return LocaleGetResourceModule(handle, 0x0409) != nullptr; }

using kvtest::Text;

class ModuleStateTest : public testing::Test {
 protected:
  void SetUp() override {
    g_ModuleResources.moduleInstance = GetModuleHandleW(nullptr);
    savedNames_ = g_MAPILibraryNames;
    ASSERT_EQ(0u, g_ModuleState.initCount) << "an earlier test left the module initialised";
  }
  void TearDown() override {
    while (g_ModuleState.initCount != 0) KVETerminateW();
    g_MAPILibraryNames = savedNames_;
  }
  static void ExpectNothingHeld(const wchar_t* mapiLibrary) {
    EXPECT_EQ(0u, g_ModuleState.initCount);
    EXPECT_EQ(0u, g_ModuleResources.localeHandle);
    EXPECT_EQ(nullptr, g_ModuleState.templateEntry.name);
    EXPECT_EQ(nullptr, g_ModuleState.templateEntry.description);
    EXPECT_EQ(0, g_mapiBound);
    EXPECT_EQ(nullptr, GetModuleHandleW(mapiLibrary)) << "the MAPI library is still loaded";
  }

  MAPILibraryNames savedNames_{};
  ScopedUserLanguage english_{L"0409"};
};

TEST_F(ModuleStateTest, OnlyTheFirstInitializeAcquiresAndOnlyTheLastTerminateReleases) {
  EXPECT_EQ(256, KVEGetVersionW());
  LocaleHandle expected = NextLocaleHandle();
  ASSERT_EQ(0, KVEInitializeW(0));
  EXPECT_EQ(1u, g_ModuleState.initCount);
  EXPECT_EQ(expected, g_ModuleResources.localeHandle);
  EXPECT_EQ(L"Exchange Folder", Text(g_ModuleState.templateEntry.name));
  EXPECT_EQ(0u, Text(g_ModuleState.templateEntry.description).find(L"Exporting to a Microsoft Exchange folder"));
  EXPECT_EQ(L"IPM.ZORLAN.REPORT.TEMPLATE", Text(g_ModuleState.reportMessageClass));
  EXPECT_EQ(L"IPM.Document.*", Text(g_ModuleState.documentMessageClass));
  EXPECT_EQ(1, g_mapiBound);
  const wchar_t* name = g_ModuleState.templateEntry.name;
  HMODULE mapi = g_mapiModule;

  LocaleHandle next = NextLocaleHandle();
  EXPECT_EQ(0, KVEInitializeW(0));
  EXPECT_EQ(2u, g_ModuleState.initCount);
  EXPECT_EQ(next + 1, NextLocaleHandle()) << "the second KVEInitializeW opened a resource set";
  EXPECT_EQ(expected, g_ModuleResources.localeHandle);
  EXPECT_EQ(name, g_ModuleState.templateEntry.name) << "the second KVEInitializeW reloaded the name";
  EXPECT_EQ(mapi, g_mapiModule);

  EXPECT_EQ(0, KVETerminateW());
  EXPECT_EQ(1u, g_ModuleState.initCount);
  EXPECT_TRUE(IsOpen(expected));
  EXPECT_EQ(L"Exchange Folder", Text(g_ModuleState.templateEntry.name));
  EXPECT_EQ(mapi, GetModuleHandleW(L"MAPI32.DLL"));
  EXPECT_EQ(1, g_mapiBound);

  EXPECT_EQ(0, KVETerminateW());
  EXPECT_FALSE(IsOpen(expected));
  ExpectNothingHeld(L"MAPI32.DLL");
  EXPECT_EQ(256, KVEGetVersionW());
  EXPECT_EQ(0, KVETerminateW()) << "an unpaired termination is harmless";
  EXPECT_EQ(0u, g_ModuleState.initCount);
}

TEST_F(ModuleStateTest, EveryFailingStepLeavesNothingHeldAndALaterCallRetries) {
  struct Case {
    const wchar_t* userLanguage;
    const wchar_t* mapiLibrary;
    int result;
    const char* why;
  } cases[] = {
      {L"0413", L"MAPI32.DLL", KVE_NO_STRING, "the Dutch set lacks string 1"},
      {L"040B", L"MAPI32.DLL", KVE_NO_STRING, "the Finnish set lacks string 6"},
      {L"0409", L"no_such_mapi_library.dll", KVE_FAILED, "the MAPI library is missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedUserLanguage language(c.userLanguage);
    g_MAPILibraryNames.library = c.mapiLibrary;
    LocaleHandle opened = NextLocaleHandle();
    EXPECT_EQ(c.result, KVEInitializeW(0));
    // The module took "opened", so the probe inside NextLocaleHandle took the one after.
    EXPECT_EQ(opened + 2, NextLocaleHandle()) << "KVEInitializeW should have opened exactly one set";
    EXPECT_FALSE(IsOpen(opened)) << "the resource set must be closed again";
    ExpectNothingHeld(c.mapiLibrary);
  }

  g_MAPILibraryNames.library = L"MAPI32.DLL";
  ASSERT_EQ(0, KVEInitializeW(0)) << "a later call starts from the beginning";
  EXPECT_EQ(1, g_mapiBound);
  EXPECT_EQ(L"Exchange Folder", Text(g_ModuleState.templateEntry.name));
}

// The destination lists: one localised clone per language, cached.
class DestinationListTest : public testing::Test {
 protected:
  void SetUp() override {
    g_ModuleResources.moduleInstance = GetModuleHandleW(nullptr);
    ASSERT_EQ(0, KVEInitializeW(0));
  }
  void TearDown() override {
    while (g_ModuleState.initCount != 0) KVETerminateW();
  }
  ScopedUserLanguage english_{L"0409"};
};

TEST_F(DestinationListTest, OneLocalisedListPerLanguage) {
  struct Case {
    DWORD language;
    const wchar_t* name;
    const wchar_t* descriptionStart;
  } cases[] = {
      {0x0409, L"Exchange Folder", L"Exporting to a Microsoft Exchange folder exports the report"},
      {0x0407, L"Exchange-Ordner", L"Beim Export in einen Microsoft Exchange-Ordner"},
      {0x040C, L"Exchange Folder", L"Exporting to a"},  // French: the module's English
      {0x041D, L"Exchange-mapp", L""},                  // Swedish test set: no description
      {0x0413, L"", L""},  // Dutch test set lacks string 1, so its 17 is not even loaded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "language " << std::hex << c.language);
    KVEDestinationList* list = KVEGetExportDestinationsExW(c.language);
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(list, KVEGetExportDestinationsExW(c.language)) << "cached per language";
    EXPECT_EQ(sizeof(KVEDestinationList), list->structSize);
    EXPECT_EQ(1, list->count);
    EXPECT_EQ(0, std::memcmp(list->identifier, "qfold\0\0\0", 8));
    KVEDestinationEntry* entry = list->entries[0];
    ASSERT_NE(nullptr, entry);
    EXPECT_NE(g_ModuleState.templateEntry.name, entry->name) << "a clone, not the template";
    EXPECT_EQ(sizeof(KVEDestinationEntry), entry->structSize);
    EXPECT_EQ(0u, entry->reserved);
    EXPECT_EQ(c.name, Text(entry->name));
    std::wstring description = Text(entry->description);
    EXPECT_EQ(0u, description.find(c.descriptionStart));
    EXPECT_EQ(*c.descriptionStart == L'\0', description.empty());
  }

  KVEDestinationList* first = KVEGetExportDestinationsExW(0);
  ASSERT_NE(nullptr, first);
  EXPECT_NE(first, KVEGetExportDestinationsExW(0)) << "language 0 is never cached";
  EXPECT_EQ(L"Exchange Folder", Text(first->entries[0]->name)) << "language 0 is the user's";
  ScopedUserLanguage germanUser(L"0407");
  EXPECT_EQ(KVEGetExportDestinationsExW(0x0407), KVEGetExportDestinationsW());
}

// Memory running out at each allocation of a new language's list (its
// clone, its texts, the cache's growth, which throws): the export answers
// null, nothing escapes, and a later call gets the list.
TEST_F(DestinationListTest, RunningOutOfMemoryAnswersNull) {
  int reached = 0;
  for (int nth = 1;; ++nth) {
    SCOPED_TRACE(testing::Message() << "allocation " << nth << " fails");
    // An empty cache must grow for the new list.
    g_DestinationListCache.Clear();
    KVEDestinationList* list = nullptr;
    {
      kvtest::ScopedAllocationFailure failure(nth);
      list = KVEGetExportDestinationsExW(0x0409);
      if (!failure.failed()) break;
    }
    ++reached;
    EXPECT_EQ(nullptr, list);
    EXPECT_NE(nullptr, KVEGetExportDestinationsExW(0x0409));
  }
  EXPECT_GE(reached, 5) << "the clone, two texts and both sequences of the cache";
}

}  // namespace
