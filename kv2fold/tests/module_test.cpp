// KV2FOLD.dll as a host meets it: loaded by name, reached only through its
// exports, unloaded at the end of every test (so each test starts with a
// freshly loaded module). The satellites lie beside the program: German
// (shipped) and the Dutch, Finnish and Swedish test sets, which lack strings.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "interface/kve_api.h"
#include "tests/support/test_environment.h"

namespace {

using kvtest::ScopedUserLanguage;

const wchar_t kModuleName[] = L"KV2FOLD.dll";

std::wstring Text(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(L"<null>"); }

class ModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(kModuleName);
    ASSERT_NE(nullptr, module_) << "KV2FOLD.dll did not load, error " << GetLastError();
    Resolve(initialize, "KVEInitializeW");
    Resolve(terminate, "KVETerminateW");
    Resolve(version, "KVEGetVersionW");
    Resolve(destinations, "KVEGetExportDestinationsW");
    Resolve(destinationsIn, "KVEGetExportDestinationsExW");
  }
  void TearDown() override {
    if (!module_) return;
    FreeLibrary(module_);
    EXPECT_EQ(nullptr, GetModuleHandleW(kModuleName)) << "the module stayed loaded";
  }

  template <typename Function>
  void Resolve(Function& slot, const char* name) {
    slot = reinterpret_cast<Function>(GetProcAddress(module_, name));
    ASSERT_NE(nullptr, slot) << name;
  }

  HMODULE module_ = nullptr;
  int(WINAPI* initialize)(DWORD) = nullptr;
  int(WINAPI* terminate)() = nullptr;
  int(WINAPI* version)() = nullptr;
  KVEDestinationList*(WINAPI* destinations)() = nullptr;
  KVEDestinationList*(WINAPI* destinationsIn)(DWORD) = nullptr;
  ScopedUserLanguage english_{L"0409"};
};

TEST_F(ModuleTest, ExportsEveryWideEntryPointByName) {
  const char* names[] = {
      "KVEInitializeW",           "KVETerminateW",
      "KVEGetVersionW",           "KVEGetExportDestinationsW",
      "KVEGetExportDestinationsExW", "KVEInitExportDestinationW",
      "KVETermExportDestinationW", "KVEExportToDestinationW",
      "KVEGetErrorTextW",         "KVEEncodeDestinationOptionsW",
      "KVEDecodeDestinationOptionsW", "KVEFreeDestinationOptionsW",
      "KVEFreeDestinationOptionsA", "KVEDestinationOptionsA2W",
      "KVEA2WDestinationOptions", "KVEDestinationOptionsW2A",
      "IsThreadSafeW",            "InitPerThreadW",
      "UninitPerThreadW",
  };
  for (const char* name : names) EXPECT_NE(nullptr, GetProcAddress(module_, name)) << name;
}

// The module's import table names zqlocale-1-0.dll with ordinals only.
TEST_F(ModuleTest, ImportsTheLocaleLibraryByOrdinal) {
  auto* base = reinterpret_cast<const BYTE*>(module_);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(0u, directory.VirtualAddress);
  auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
  std::set<WORD> ordinals;
  bool found = false;
  for (; descriptor->Name != 0; ++descriptor) {
    if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), "zqlocale-1-0.dll") != 0) continue;
    found = true;
    auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
    for (; thunk->u1.Ordinal != 0; ++thunk) {
      EXPECT_TRUE(IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) << "an import by name";
      ordinals.insert(static_cast<WORD>(IMAGE_ORDINAL(thunk->u1.Ordinal)));
    }
  }
  ASSERT_TRUE(found) << "KV2FOLD.dll does not import zqlocale-1-0.dll";
  EXPECT_EQ((std::set<WORD>{3, 50, 51, 52, 53}), ordinals);
}

TEST_F(ModuleTest, VersionIsTheSameInEveryState) {
  EXPECT_EQ(0x0100, version());
  ASSERT_EQ(0, initialize(0));
  EXPECT_EQ(0x0100, version());
  ASSERT_EQ(0, initialize(0));
  EXPECT_EQ(0x0100, version());
  terminate();
  terminate();
  EXPECT_EQ(0x0100, version());
}

TEST_F(ModuleTest, InitializeReportsMissingStringsAndRecovers) {
  {
    ScopedUserLanguage finnish(L"040B");  // test set without string 6
    EXPECT_EQ(KVE_NO_STRING, initialize(0));
  }
  {
    ScopedUserLanguage dutch(L"0413");  // test set without string 1
    EXPECT_EQ(KVE_NO_STRING, initialize(0));
  }
  {
    ScopedUserLanguage swedish(L"041D");  // test set without the description: no failure
    EXPECT_EQ(KVE_OK, initialize(0));
    EXPECT_EQ(KVE_OK, terminate());
  }
  EXPECT_EQ(KVE_OK, initialize(0));
  EXPECT_EQ(KVE_OK, initialize(0));
  EXPECT_EQ(KVE_OK, terminate());
  EXPECT_EQ(KVE_OK, terminate());
}

TEST_F(ModuleTest, DestinationListsByLanguage) {
  ASSERT_EQ(0, initialize(0));
  KVEDestinationList* english = destinationsIn(0x0409);
  KVEDestinationList* german = destinationsIn(0x0407);
  KVEDestinationList* dutch = destinationsIn(0x0413);
  ASSERT_TRUE(english && german && dutch);
  EXPECT_EQ(german, destinationsIn(0x0407));
  EXPECT_NE(english, german);
  KVEDestinationList* unnamed = destinationsIn(0);
  EXPECT_NE(unnamed, destinationsIn(0)) << "language 0 is never cached";
  {
    ScopedUserLanguage german_user(L"0407");
    EXPECT_EQ(german, destinations());
  }
  EXPECT_EQ(english, destinations());

  for (KVEDestinationList* list : {english, german, dutch}) {
    EXPECT_EQ(sizeof(KVEDestinationList), list->structSize);
    EXPECT_EQ(1, list->count);
    EXPECT_EQ(0, std::memcmp(list->identifier, "qfold\0\0\0", 8));
    ASSERT_NE(nullptr, list->entries[0]);
    EXPECT_EQ(sizeof(KVEDestinationEntry), list->entries[0]->structSize);
    EXPECT_EQ(0u, list->entries[0]->reserved);
  }
  EXPECT_EQ(L"Exchange Folder", Text(english->entries[0]->name));
  EXPECT_EQ(L"Exchange-Ordner", Text(german->entries[0]->name));
  EXPECT_EQ(
      L"Beim Export in einen Microsoft Exchange-Ordner wird der Bericht im angegebenen Format in einen "
      L"Exchange-Ordner exportiert, sodass \u00fcber einen Microsoft Exchange-Client wie Microsoft Outlook auf den "
      L"exportierten Bericht zugegriffen werden kann.",
      Text(german->entries[0]->description));
  EXPECT_EQ(L"", Text(dutch->entries[0]->name));
  EXPECT_EQ(L"", Text(dutch->entries[0]->description));

  // Handed-out lists stay valid after the last termination.
  terminate();
  EXPECT_EQ(L"Exchange-Ordner", Text(german->entries[0]->name));
  EXPECT_EQ(german, destinationsIn(0x0407));
}

TEST_F(ModuleTest, ThreadAnswersAndEntryPointsStillToBeBuilt) {
  int(WINAPI* threadSafe)() = nullptr;
  int(WINAPI* initThread)() = nullptr;
  int(WINAPI* uninitThread)() = nullptr;
  int(WINAPI* initExport)(HWND, DWORD, const KVEDestinationOptions*, const KVEExportInfo*, KVEJobHandle*,
                          KVEJobRecord**) = nullptr;
  int(WINAPI* termExport)(KVEJobHandle, DWORD) = nullptr;
  int(WINAPI* exportTo)(KVEJobHandle, const KVEExportRequest*) = nullptr;
  const wchar_t*(WINAPI* errorText)(KVEJobHandle) = nullptr;
  int(WINAPI* encode)(KVEJobHandle, KVEDestinationOptions**, WORD*) = nullptr;
  int(WINAPI* decode)(KVEJobHandle, KVEDestinationOptions**) = nullptr;
  Resolve(threadSafe, "IsThreadSafeW");
  Resolve(initThread, "InitPerThreadW");
  Resolve(uninitThread, "UninitPerThreadW");
  Resolve(initExport, "KVEInitExportDestinationW");
  Resolve(termExport, "KVETermExportDestinationW");
  Resolve(exportTo, "KVEExportToDestinationW");
  Resolve(errorText, "KVEGetErrorTextW");
  Resolve(encode, "KVEEncodeDestinationOptionsW");
  Resolve(decode, "KVEDecodeDestinationOptionsW");

  EXPECT_EQ(0, threadSafe());
  EXPECT_EQ(0, initThread());
  EXPECT_EQ(0, uninitThread());

  // Refused clearly, out-parameters cleared.
  KVEJobHandle job = reinterpret_cast<KVEJobHandle>(0x1234);
  KVEJobRecord* record = reinterpret_cast<KVEJobRecord*>(0x5678);
  KVEExportInfo info{};
  EXPECT_EQ(KVE_BAD_ARGUMENT, initExport(nullptr, 0, nullptr, &info, &job, &record));
  EXPECT_EQ(nullptr, job);
  EXPECT_EQ(nullptr, record);
  EXPECT_EQ(KVE_BAD_ARGUMENT, exportTo(nullptr, nullptr));
  EXPECT_EQ(KVE_BAD_ARGUMENT, termExport(nullptr, 0));
  EXPECT_EQ(nullptr, errorText(nullptr));
  KVEDestinationOptions* block = reinterpret_cast<KVEDestinationOptions*>(0x9ABC);
  WORD size = 0xBEEF;
  EXPECT_EQ(KVE_BAD_ARGUMENT, encode(nullptr, &block, &size));
  EXPECT_EQ(nullptr, block);
  EXPECT_EQ(0, size);
  KVEDestinationOptions* decoded = reinterpret_cast<KVEDestinationOptions*>(0x9ABC);
  EXPECT_EQ(KVE_BAD_ARGUMENT, decode(nullptr, &decoded));
  EXPECT_EQ(nullptr, decoded);
}

// Lists handed out are released when the module unloads, not before.
TEST(ModuleUnload, ReleasesTheCachedLists) {
  ScopedUserLanguage english(L"0409");
  HMODULE module = LoadLibraryW(kModuleName);
  ASSERT_NE(nullptr, module);
  auto initialize = reinterpret_cast<int(WINAPI*)(DWORD)>(GetProcAddress(module, "KVEInitializeW"));
  auto terminate = reinterpret_cast<int(WINAPI*)()>(GetProcAddress(module, "KVETerminateW"));
  auto destinationsIn =
      reinterpret_cast<KVEDestinationList*(WINAPI*)(DWORD)>(GetProcAddress(module, "KVEGetExportDestinationsExW"));
  ASSERT_TRUE(initialize && terminate && destinationsIn);
  ASSERT_EQ(0, initialize(0));

  const int kLists = 40;
  size_t perList = (256 + 1021) * sizeof(wchar_t);  // the two string buffers alone
  size_t before = kvtest::ProcessHeapBusyBytes();
  for (int i = 0; i < kLists; ++i) {
    ASSERT_NE(nullptr, destinationsIn(i < 4 ? 0 : 0x0400 + static_cast<DWORD>(i)));
  }
  size_t filled = kvtest::ProcessHeapBusyBytes();
  ASSERT_GE(filled, before + kLists * perList) << "the heap walk does not see the lists";
  terminate();

  FreeLibrary(module);
  ASSERT_EQ(nullptr, GetModuleHandleW(kModuleName));
  size_t after = kvtest::ProcessHeapBusyBytes();
  EXPECT_LE(after + kLists * perList, filled) << "lists still on the heap after unload";
}

}  // namespace
