// The destination lists: one localised clone per language, cached.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interface/destination_list.h"
#include "interface/kve_api.h"
#include "interface/module_state.h"
#include "kvtest/environment.h"
#include "platform/module_resources.h"
#include "tests/support/allocation_failure.h"

namespace {

using kvtest::ScopedUserLanguage;
using kvtest::Text;

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
