// Shared pieces of the message file tests: reproducible bytes, and the
// system's structured storage as the reference reader (scratch folders and
// whole files from kvtest).
#pragma once

#include <windows.h>

#include <objbase.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvtest/environment.h"

namespace msgfile_test {

// Reproducible pseudo-random bytes: the same seed gives the same bytes.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

// What the system's structured storage sees in a file: every stream's bytes
// and every storage's class id, keyed by path ("a/b/c"), in the order its
// enumeration returned them, and streams opened by name (which walks the
// sibling trees).
struct SystemView {
  std::map<std::wstring, std::vector<uint8_t>> streams;
  std::map<std::wstring, CLSID> storages;  // "" is the root
  std::vector<std::wstring> order;         // paths as enumerated
};
HRESULT ReadWithSystem(const std::wstring& path, SystemView* view);

// Sets up COM for the structured storage calls of one test.
class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
  kvtest::TempDirectory scratch_;
};

// Writes a file with the system's structured storage: streams by path
// ("storage/stream"), written in pieces of chunk bytes, round robin across
// streams so their sector chains interleave.
HRESULT WriteWithSystem(const std::wstring& path, const std::map<std::wstring, std::vector<uint8_t>>& streams,
                        size_t chunk);

}  // namespace msgfile_test
