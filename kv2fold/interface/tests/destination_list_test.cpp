// The destination lists: one clone per language, localised, cached, kept
// valid after termination and released with the cache.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interface/destination_list.h"
#include "interface/kve_api.h"
#include "interface/module_state.h"
#include "platform/wide_text.h"
#include "tests/support/test_environment.h"

namespace {

using kvtest::ScopedUserLanguage;

std::wstring Text(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(L"<null>"); }

class DestinationListTest : public testing::Test {
 protected:
  void SetUp() override {
    g_ModuleState.moduleInstance = GetModuleHandleW(nullptr);
    ASSERT_EQ(0, KVEInitializeW(0));
  }
  void TearDown() override {
    while (g_ModuleState.initCount != 0) KVETerminateW();
  }
  ScopedUserLanguage english_{L"0409"};
};

TEST_F(DestinationListTest, OneListPerLanguageAndANewOneForLanguageZero) {
  KVEDestinationList* german = KVEGetExportDestinationsExW(0x0407);
  ASSERT_NE(nullptr, german);
  EXPECT_EQ(german, KVEGetExportDestinationsExW(0x0407));
  KVEDestinationList* english = KVEGetExportDestinationsExW(0x0409);
  ASSERT_NE(nullptr, english);
  EXPECT_NE(german, english);
  EXPECT_NE(german->entries[0], english->entries[0]) << "lists share no entry";
  EXPECT_NE(german->entries[0]->name, english->entries[0]->name);

  KVEDestinationList* first = KVEGetExportDestinationsExW(0);
  KVEDestinationList* second = KVEGetExportDestinationsExW(0);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  EXPECT_EQ(L"Exchange Folder", Text(first->entries[0]->name)) << "language 0 is the user's";

  // The user's language: whatever zqlocale reports, through the same cache.
  ScopedUserLanguage german_user(L"0407");
  EXPECT_EQ(german, KVEGetExportDestinationsW());
}

TEST_F(DestinationListTest, ListsAreLocalisedAndShapedForTheHost) {
  struct Case {
    DWORD language;
    const wchar_t* name;
    const wchar_t* descriptionStart;
  } cases[] = {
      {0x0409, L"Exchange Folder", L"Exporting to a Microsoft Exchange folder exports the report"},
      {0x0407, L"Exchange-Ordner",
       L"Beim Export in einen Microsoft Exchange-Ordner wird der Bericht im angegebenen Format in einen "
       L"Exchange-Ordner exportiert, sodass \u00fcber einen Microsoft Exchange-Client"},
      {0x0807, L"Exchange-Ordner", L"Beim Export"},      // Swiss German: no own set, German
      {0x040C, L"Exchange Folder", L"Exporting to a"},  // French: the module's English
      {0x041D, L"Exchange-mapp", L""},                  // Swedish test set: no description
      {0x0413, L"", L""},  // Dutch test set lacks string 1; its 17 is then not even loaded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "language " << std::hex << c.language);
    KVEDestinationList* list = KVEGetExportDestinationsExW(c.language);
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(sizeof(KVEDestinationList), list->structSize);
    EXPECT_EQ(1, list->count);
    EXPECT_EQ(0, std::memcmp(list->identifier, "qfold\0\0\0", 8));
    ASSERT_NE(nullptr, list->entries);
    KVEDestinationEntry* entry = list->entries[0];
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(sizeof(KVEDestinationEntry), entry->structSize);
    EXPECT_EQ(0u, entry->reserved);
    EXPECT_EQ(c.name, Text(entry->name));
    ASSERT_NE(nullptr, entry->description);
    EXPECT_EQ(c.descriptionStart, std::wstring(entry->description).substr(0, wcslen(c.descriptionStart)));
    if (!*c.descriptionStart) {
      EXPECT_EQ(L"", Text(entry->description));
    }
  }
}

TEST_F(DestinationListTest, ListsOutliveTheLastTermination) {
  KVEDestinationList* swedish = KVEGetExportDestinationsExW(0x041D);
  ASSERT_NE(nullptr, swedish);
  ASSERT_EQ(0, KVETerminateW());
  ASSERT_EQ(0u, g_ModuleState.initCount);
  EXPECT_EQ(L"Exchange-mapp", Text(swedish->entries[0]->name));
  EXPECT_EQ(swedish, KVEGetExportDestinationsExW(0x041D));
}

TEST(DestinationListClone, CopiesDeeplyAndKeepsNulls) {
  wchar_t nameA[] = L"A";
  wchar_t descriptionC[] = L"C";
  KVEDestinationEntry first{};
  first.structSize = 99;
  first.name = nameA;
  first.reserved = 0xDEADBEEF;
  KVEDestinationEntry third{};
  third.structSize = 14;
  third.description = descriptionC;
  KVEDestinationEntry* entries[3] = {&first, nullptr, &third};
  KVEDestinationList source{};
  source.structSize = 77;
  source.count = 3;
  source.entries = entries;
  std::memcpy(source.identifier, "abcdefgh", 8);

  KVEDestinationList* clone = CloneDestinationList(source);
  ASSERT_NE(nullptr, clone);
  EXPECT_EQ(77, clone->structSize);
  EXPECT_EQ(3, clone->count);
  EXPECT_EQ(0, std::memcmp(clone->identifier, "abcdefgh", 8));
  ASSERT_NE(nullptr, clone->entries);
  EXPECT_NE(source.entries, clone->entries);
  ASSERT_NE(nullptr, clone->entries[0]);
  EXPECT_NE(&first, clone->entries[0]);
  EXPECT_EQ(99, clone->entries[0]->structSize);
  EXPECT_EQ(0xDEADBEEFu, clone->entries[0]->reserved);
  EXPECT_NE(nameA, clone->entries[0]->name);
  EXPECT_EQ(L"A", Text(clone->entries[0]->name));
  EXPECT_EQ(nullptr, clone->entries[0]->description);
  EXPECT_EQ(nullptr, clone->entries[1]) << "a null element stays null";
  ASSERT_NE(nullptr, clone->entries[2]);
  EXPECT_EQ(nullptr, clone->entries[2]->name);
  EXPECT_EQ(L"C", Text(clone->entries[2]->description));
  FreeDestinationList(clone);

  source.count = 0;
  KVEDestinationList* empty = CloneDestinationList(source);
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ(0, empty->count);
  EXPECT_EQ(nullptr, empty->entries) << "no array for no entries";
  EXPECT_TRUE(LocalizeFirstEntry(empty, 0x0409)) << "nothing to localise is no failure";
  FreeDestinationList(empty);
}

TEST(DestinationListCacheRelease, ReleasesEveryListItHolds) {
  ScopedUserLanguage english(L"0409");
  g_ModuleState.moduleInstance = GetModuleHandleW(nullptr);
  ASSERT_EQ(0, KVEInitializeW(0));
  const int kLanguages = 24;
  size_t before = kvtest::ProcessHeapBusyBytes();
  size_t filled = 0;
  {
    DestinationListCache cache;
    for (int i = 0; i < kLanguages; ++i) {
      DWORD language = i < 4 ? 0 : 0x0400 + static_cast<DWORD>(i);
      KVEDestinationList* list = CloneDestinationList(g_ModuleState.templateList);
      ASSERT_NE(nullptr, list);
      ASSERT_TRUE(LocalizeFirstEntry(list, language));
      cache.Add(language, list);
    }
    EXPECT_EQ(nullptr, cache.Find(0));
    EXPECT_NE(nullptr, cache.Find(0x0404));
    filled = kvtest::ProcessHeapBusyBytes();
  }
  size_t after = kvtest::ProcessHeapBusyBytes();
  KVETerminateW();
  // Each list holds at least its two string buffers (256 + 1021 characters).
  size_t perList = (kLocalizedNameCapacity + kLocalizedDescriptionCapacity) * sizeof(wchar_t);
  ASSERT_GE(filled, before + kLanguages * perList) << "the heap walk does not see the lists";
  EXPECT_LE(after, before + 512) << "lists left on the heap: " << (after - before) / perList;
}

}  // namespace
