// KV2FOLD.dll as a host meets it: loaded by name, reached only through its
// exports, unloaded at the end of every test (so each test starts with a
// freshly loaded module). The satellites lie beside the program. (What the
// exports do in detail is tested below them, in the unit tests.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "interface/kve_api.h"
#include "platform/tests/test_support.h"
#include "tests/support/module_export.h"

namespace {

using kvtest::ScopedUserLanguage;
using kvtest::Text;

const wchar_t kModuleName[] = L"KV2FOLD.dll";

class ModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(kModuleName);
    ASSERT_NE(nullptr, module_) << "KV2FOLD.dll did not load, error " << GetLastError();
    initialize = MODULE_EXPORT(module_, KVEInitializeW);
    terminate = MODULE_EXPORT(module_, KVETerminateW);
    destinations = MODULE_EXPORT(module_, KVEGetExportDestinationsW);
    destinationsIn = MODULE_EXPORT(module_, KVEGetExportDestinationsExW);
    ASSERT_TRUE(initialize && terminate && destinations && destinationsIn);
  }
  void TearDown() override {
    if (module_) Unload();
  }
  void Unload() {
    FreeLibrary(module_);
    module_ = nullptr;
    EXPECT_EQ(nullptr, GetModuleHandleW(kModuleName)) << "the module stayed loaded";
  }

  HMODULE module_ = nullptr;
  decltype(&KVEInitializeW) initialize = nullptr;
  decltype(&KVETerminateW) terminate = nullptr;
  decltype(&KVEGetExportDestinationsW) destinations = nullptr;
  decltype(&KVEGetExportDestinationsExW) destinationsIn = nullptr;
  ScopedUserLanguage english_{L"0409"};
};

// The export table names every entry point, wide and narrow, under its plain
// name (the 32-bit build's standard-call names undecorated) and nothing else;
// the import table names zqlocale-1-0.dll with ordinals only.
TEST_F(ModuleTest, ExportsPlainNamesAndImportsTheLocaleLibraryByOrdinal) {
  const std::set<std::string> expected = {
      "KVEInitializeW", "KVETerminateW", "KVEGetVersionW", "KVEGetExportDestinationsW", "KVEGetExportDestinationsExW",
      "KVEInitExportDestinationW", "KVETermExportDestinationW", "KVEExportToDestinationW", "KVEGetErrorTextW",
      "KVEEncodeDestinationOptionsW", "KVEDecodeDestinationOptionsW", "KVEFreeDestinationOptionsW",
      "KVEFreeDestinationOptionsA", "KVEDestinationOptionsA2W", "KVEA2WDestinationOptions", "KVEDestinationOptionsW2A",
      "IsThreadSafeW", "InitPerThreadW", "UninitPerThreadW",
      "InitPerThread", "IsThreadSafe", "UninitPerThread", "KVEInitialize", "KVETerminate", "KVEGetVersion",
      "KVEGetExportDestinations", "KVEInitExportDestination", "KVETermExportDestination", "KVEExportToDestination",
      "KVEGetErrorText", "KVEEncodeDestinationOptions", "KVEDecodeDestinationOptions", "KVEFreeDestinationOptions"};
  auto* base = reinterpret_cast<const BYTE*>(module_);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD exportTable = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress;
  const DWORD importTable = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  ASSERT_NE(0u, exportTable);
  ASSERT_NE(0u, importTable);
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exportTable);
  auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::set<std::string> exported;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) exported.insert(reinterpret_cast<const char*>(base + names[i]));
  EXPECT_EQ(expected, exported);

  auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + importTable);
  std::set<WORD> ordinals;
  for (; descriptor->Name != 0; ++descriptor) {
    if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), "zqlocale-1-0.dll") != 0) continue;
    auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
    for (; thunk->u1.Ordinal != 0; ++thunk) {
      EXPECT_TRUE(IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) << "an import by name";
      ordinals.insert(static_cast<WORD>(IMAGE_ORDINAL(thunk->u1.Ordinal)));
    }
  }
  EXPECT_EQ((std::set<WORD>{3, 50, 51, 52, 53}), ordinals) << "zqlocale-1-0.dll imported by these ordinals";
}

TEST_F(ModuleTest, CallsWithoutAJob) {
  // Before KVEInitializeW there is no MAPI: -1, and the job slot is untouched.
  KVEJobHandle job = reinterpret_cast<KVEJobHandle>(0x1234);
  KVEJobRecord* record = reinterpret_cast<KVEJobRecord*>(0x5678);
  KVEExportInfo info{};
  info.structSize = sizeof info;
  auto initExport = MODULE_EXPORT(module_, KVEInitExportDestinationW);
  EXPECT_EQ(KVE_FAILED, initExport(nullptr, 0, nullptr, &info, &job, &record));
  EXPECT_EQ(reinterpret_cast<KVEJobHandle>(0x1234), job);
  EXPECT_EQ(reinterpret_cast<KVEJobRecord*>(0x5678), record);

  // A null job's end answers 0 (it balances a refused setup); the other
  // calls with a null job are in the narrow tests' table of bad handles.
  EXPECT_EQ(0, MODULE_EXPORT(module_, KVETermExportDestinationW)(nullptr, 0));
}

// Lists handed out stay valid after the last termination and are released
// when the module unloads, not before.
TEST_F(ModuleTest, ListsOutliveTheTerminationAndGoWithTheModule) {
  ASSERT_EQ(0, initialize(0));
  const int kLists = 40;
  size_t perList = (256 + 1021) * sizeof(wchar_t);  // the two string buffers alone
  size_t before = kvtest::ProcessHeapBusyBytes();
  KVEDestinationList* german = destinationsIn(0x0407);  // one of the lists below
  ASSERT_NE(nullptr, german);
  for (int i = 0; i < kLists; ++i) ASSERT_NE(nullptr, destinationsIn(i < 4 ? 0 : 0x0400 + static_cast<DWORD>(i)));
  size_t filled = kvtest::ProcessHeapBusyBytes();
  ASSERT_GE(filled, before + kLists * perList) << "the heap walk does not see the lists";
  EXPECT_EQ(0, terminate());
  EXPECT_EQ(L"Exchange-Ordner", Text(german->entries[0]->name));
  EXPECT_EQ(german, destinationsIn(0x0407));
  Unload();
  size_t after = kvtest::ProcessHeapBusyBytes();
  EXPECT_LE(after + kLists * perList, filled) << "lists still on the heap after unload";
}

}  // namespace
