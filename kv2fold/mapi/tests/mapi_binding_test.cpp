// Binding MAPI32.DLL: all thirteen entries or none, and nothing held after a
// refusal. Stand-in libraries beside the tests lack one name each; the
// project's own MAPI32.DLL is the complete one.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "mapi/mapi_binding.h"

namespace {

// The table as an array, in resolution order.
std::array<FARPROC, kMAPIFunctionCount> Entries() {
  std::array<FARPROC, kMAPIFunctionCount> entries;
  std::memcpy(entries.data(), &g_MAPIFunctions, sizeof g_MAPIFunctions);
  return entries;
}

void ExpectUnbound(const wchar_t* library) {
  EXPECT_EQ(0, g_mapiBound);
  EXPECT_EQ(nullptr, g_mapiModule);
  std::array<FARPROC, kMAPIFunctionCount> entries = Entries();
  for (int i = 0; i < kMAPIFunctionCount; ++i) EXPECT_EQ(nullptr, entries[i]) << "entry " << i + 1;
  EXPECT_EQ(nullptr, GetModuleHandleW(library)) << "the library must be released";
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

class MAPIBindingTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = g_MAPILibraryNames;
    UnbindMAPI();
  }
  void TearDown() override {
    UnbindMAPI();
    g_MAPILibraryNames = saved_;
  }

 private:
  MAPILibraryNames saved_{};
};

TEST_F(MAPIBindingTest, RefusesLibrariesThatCannotServeAndRetriesCleanly) {
  struct Case {
    const wchar_t* library;
    const char* why;
  } cases[] = {
      {L"mapi_without_FtNegFt.dll", "lacks only the last name looked up"},
      {L"mapi_without_MAPILogonEx.dll", "lacks a name in the middle"},
      {L"no_such_mapi_library.dll", "does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    g_MAPILibraryNames.library = c.library;
    EXPECT_EQ(0, BindMAPI());
    ExpectUnbound(c.library);
  }
  g_MAPILibraryNames.library = L"MAPI32.DLL";
  ASSERT_EQ(1, BindMAPI()) << "a bind after refusals starts from a clean state";
  EXPECT_EQ(1, g_mapiBound);
}

TEST_F(MAPIBindingTest, OurLibraryBindsAndCallsReachIt) {
  ASSERT_EQ(1, BindMAPI());
  EXPECT_EQ(1, g_mapiBound);
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(g_mapiModule, path, MAX_PATH);
  EXPECT_EQ(ProgramFolder() + L"MAPI32.DLL", std::wstring(path, length)) << "the library beside the program";
  std::array<FARPROC, kMAPIFunctionCount> entries = Entries();
  for (int i = 0; i < kMAPIFunctionCount; ++i) EXPECT_NE(nullptr, entries[i]) << "entry " << i + 1;

  // Calls through the table reach the right functions with the right signatures.
  FILETIME product = g_MAPIFunctions.FtMulDwDw(0x10000, 0x10003);
  EXPECT_EQ(1u, product.dwHighDateTime);
  EXPECT_EQ(0x00030000u, product.dwLowDateTime);
  void* buffer = nullptr;
  ASSERT_EQ(S_OK, g_MAPIFunctions.MAPIAllocateBuffer(32, &buffer));
  EXPECT_EQ(0u, g_MAPIFunctions.MAPIFreeBuffer(buffer));

  UnbindMAPI();
  ExpectUnbound(L"MAPI32.DLL");
  UnbindMAPI();  // twice: nothing left to free
  ExpectUnbound(L"MAPI32.DLL");
}

}  // namespace
