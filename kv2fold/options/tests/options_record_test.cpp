// The options record: the reading rule on untrusted host bytes (placed right
// before a page that faults), the conversions in both layouts, and freeing.
// Offsets are computed from the build's header: 18 bytes on Win32, 30 on Win64.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "interface/kve_api.h"
#include "options/options_record.h"
#include "platform/tests/test_support.h"
#include "tests/support/options_blocks.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kHeader = sizeof(KVEDestinationOptions);
constexpr size_t kBlockSizeField = offsetof(KVEDestinationOptions, blockSize);
uint16_t U16(size_t value) { return static_cast<uint16_t>(value); }

// A block as a host writes it, and a pointer record.
template <typename Char>
Bytes MakeBlock(const Char* profile, const Char* password, const Char* folder, uint16_t kind) {
  return kvtest::NativeBlockOf<Char>({profile, password, kind, folder});
}
template <typename Char>
KVEDestinationOptionsT<Char> PointerRecord(const Char* profile, const Char* password, const Char* folder, uint16_t kind,
                                           size_t structSize = kHeader) {
  KVEDestinationOptionsT<Char> record = kvtest::PointerRecordOf<Char>({profile, password, kind, folder});
  record.structSize = U16(structSize);
  return record;
}

template <typename Char>
const Char* StringOf(const KVEDestinationOptionsT<Char>* record, const KVEStringFieldT<Char>& field) {
  if (record->blockSize == 0 || field.offset == 0) return field.pointer;
  return reinterpret_cast<const Char*>(reinterpret_cast<const unsigned char*>(record) + field.offset);
}

// Converts from the given form and frees the result; the module heap must be
// back where it was. Returns the conversion's code.
int ConvertAndFree(const void* record, bool fromNarrow, const char* what) {
  const long heapBlocks = kvtest::CountModuleHeapBlocks();
  void* out = reinterpret_cast<void*>(0xdeadbeef);
  int result = fromNarrow ? KVEDestinationOptionsA2W(static_cast<const KVEDestinationOptionsA*>(record),
                                                     reinterpret_cast<KVEDestinationOptions**>(&out), nullptr)
                          : KVEDestinationOptionsW2A(static_cast<const KVEDestinationOptions*>(record),
                                                     reinterpret_cast<KVEDestinationOptionsA**>(&out), nullptr);
  if (result != KVE_OK) {
    EXPECT_EQ(nullptr, out) << what;
  }
  if (fromNarrow) KVEFreeDestinationOptionsW(0, static_cast<KVEDestinationOptions*>(result ? nullptr : out));
  if (!fromNarrow) KVEFreeDestinationOptionsA(0, static_cast<KVEDestinationOptionsA*>(result ? nullptr : out));
  EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks()) << what << ": nothing may stay allocated";
  return result;
}

}  // namespace

TEST(OptionsReadingRule, StructSizeDecidesHowARecordIsRead) {
  const bool win64 = sizeof(void*) == 8;
  const struct {
    uint16_t structSize;
    uint16_t atByte16;  // blockSize of an 18-byte header
    int expected;
  } table[] = {
      {0, 0, KVE_BAD_ARGUMENT},
      {1, 0, KVE_BAD_ARGUMENT},
      {2, 0, KVE_BAD_ARGUMENT},
      {17, 18, KVE_BAD_ARGUMENT},
      {18, 18, KVE_OK},  // an empty 18-byte block: native on Win32, from a 32-bit host on Win64
      {29, 18, KVE_OK},
      {18, 0, win64 ? KVE_BAD_ARGUMENT : KVE_OK},  // pointers of a 32-bit host mean nothing to a 64-bit module
      {U16(kHeader), 0, KVE_OK},
      {U16(kHeader + 22), 0, KVE_OK},
  };
  for (const auto& row : table) {
    Bytes record(2 * kHeader, 0);
    memcpy(record.data(), &row.structSize, 2);
    memcpy(record.data() + 16, &row.atByte16, 2);
    const std::string what = "structSize " + std::to_string(row.structSize);
    EXPECT_EQ(row.expected, ConvertAndFree(record.data(), true, what.c_str()));
    EXPECT_EQ(row.expected, ConvertAndFree(record.data(), false, what.c_str()));
  }
  KVEDestinationOptions* out = reinterpret_cast<KVEDestinationOptions*>(0x1);
  EXPECT_EQ(KVE_OK, KVEDestinationOptionsA2W(nullptr, &out, nullptr));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(KVE_BAD_ARGUMENT,
            KVEDestinationOptionsA2W(reinterpret_cast<const KVEDestinationOptionsA*>(&table), nullptr, nullptr));
}

TEST(OptionsReadingRule, HostBytesAreProbedAndNothingBeyondTheBlockIsRead) {
  kvtest::GuardedPage page;
  const uint16_t headerOnly = kHeader;
  const Bytes narrowBlock = MakeBlock<char>("Profil", nullptr, "Ablage", ReportInstance);
  const Bytes wideBlock = MakeBlock<wchar_t>(L"Profil", L"pw", L"Ablage", ReportInstance);
  auto withBlockSize = [](Bytes block, size_t keep, size_t blockSize) {
    block.resize(keep);
    const uint16_t size = U16(blockSize);
    memcpy(block.data() + kBlockSizeField, &size, 2);
    return block;
  };
  const Bytes claimsMore = withBlockSize(narrowBlock, narrowBlock.size(), narrowBlock.size() + 2);
  const Bytes narrowCut = withBlockSize(narrowBlock, narrowBlock.size() - 1, narrowBlock.size() - 1);
  const Bytes wideCut = withBlockSize(wideBlock, wideBlock.size() - 2, wideBlock.size() - 2);
  const Bytes narrowCutInside = withBlockSize(narrowBlock, narrowBlock.size(), narrowBlock.size() - 1);
  const KVEDestinationOptionsA pointer = PointerRecord<char>("p", nullptr, nullptr, FolderReport);
  const struct {
    const char* what;
    const void* bytes;
    size_t readable;  // bytes placed before the fault
    bool fromNarrow;
    int expected;
  } cases[] = {
      {"pointer record of exactly its size", &pointer, sizeof(pointer), true, KVE_OK},
      {"narrow block of exactly blockSize bytes", narrowBlock.data(), narrowBlock.size(), true, KVE_OK},
      {"wide block of exactly blockSize bytes", wideBlock.data(), wideBlock.size(), false, KVE_OK},
      {"blockSize reaching into the fault", claimsMore.data(), claimsMore.size() - 2, true, KVE_BAD_ARGUMENT},
      {"narrow string unterminated", narrowCut.data(), narrowCut.size(), true, KVE_BAD_ARGUMENT},
      {"wide string unterminated", wideCut.data(), wideCut.size(), false, KVE_BAD_ARGUMENT},
      {"terminator behind blockSize", narrowCutInside.data(), narrowCutInside.size(), true, KVE_BAD_ARGUMENT},
      {"header cut by the fault", &headerOnly, 2, true, KVE_BAD_ARGUMENT},
      {"structSize cut by the fault", &headerOnly, 1, false, KVE_BAD_ARGUMENT},
      {"nothing readable", &headerOnly, 0, true, KVE_BAD_ARGUMENT},
  };
  for (const auto& c : cases) {
    unsigned char* at = page.EndMinus(c.readable);
    memcpy(at, c.bytes, c.readable);
    EXPECT_EQ(c.expected, ConvertAndFree(at, c.fromNarrow, c.what)) << c.what;
    EXPECT_EQ(0, memcmp(c.bytes, at, c.readable)) << c.what << ": the host's bytes are only read";
  }
  const void* readOnly = page.PlaceAtEnd<void>(&pointer, sizeof(pointer));
  page.ProtectFirstPage(PAGE_READONLY);
  EXPECT_EQ(KVE_BAD_ARGUMENT, ConvertAndFree(readOnly, true, "read-only record")) << "the first bytes must be writable";
  page.ProtectFirstPage(PAGE_READWRITE);
}

TEST(OptionsReadingRule, BlockOffsetsMustPointInsideBehindTheHeader) {
  const Bytes block = MakeBlock<wchar_t>(L"Profil", L"pw", L"Ablage", FolderReport);
  const size_t profileField = offsetof(KVEDestinationOptions, profileName);
  const size_t folderField = offsetof(KVEDestinationOptions, folderPath);
  const struct {
    const char* what;
    size_t field;
    uintptr_t value;
    int expected;
  } cases[] = {
      {"offset at blockSize", folderField, block.size(), KVE_BAD_ARGUMENT},
      {"offset beyond blockSize", folderField, block.size() + 40, KVE_BAD_ARGUMENT},
      {"offset inside the header", profileField, 2, KVE_BAD_ARGUMENT},
      {"wide text at an odd offset", profileField, kHeader + 1, KVE_BAD_ARGUMENT},
      {"offset 0: absent", profileField, 0, KVE_OK},
      {"blockSize below the header", kBlockSizeField, kHeader - 1, KVE_BAD_ARGUMENT},
  };
  for (const auto& c : cases) {
    Bytes changed = block;
    memcpy(changed.data() + c.field, &c.value, c.field == kBlockSizeField ? 2 : sizeof(uintptr_t));
    EXPECT_EQ(c.expected, ConvertAndFree(changed.data(), false, c.what)) << c.what;
  }
}

TEST(OptionsConversion, BothLayoutsInBothDirections) {
  const KVEDestinationOptions widePointer = PointerRecord<wchar_t>(L"P", nullptr, L"a#b", FolderReport);
  KVEDestinationOptionsA* narrow = nullptr;
  WORD size = 0xBEEF;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsW2A(&widePointer, &narrow, &size));
  EXPECT_EQ(0, size);
  EXPECT_EQ(U16(kHeader), narrow->structSize);
  EXPECT_EQ(0, narrow->blockSize);
  EXPECT_EQ(FolderReport, narrow->postingKind);
  EXPECT_STREQ("P", narrow->profileName.pointer);
  EXPECT_EQ(nullptr, narrow->password.pointer);
  EXPECT_STREQ("a#b", narrow->folderPath.pointer);
  KVEFreeDestinationOptionsA(0, narrow);

  const Bytes wideBlock = MakeBlock<wchar_t>(L"P", nullptr, L"a#b", PersonalReport);
  ASSERT_EQ(KVE_OK,
            KVEDestinationOptionsW2A(reinterpret_cast<const KVEDestinationOptions*>(wideBlock.data()), &narrow, &size));
  EXPECT_EQ(U16(kHeader + 2 * (2 + 0 + 4)), size);
  EXPECT_EQ(size, narrow->blockSize);
  EXPECT_EQ(PersonalReport, narrow->postingKind);
  EXPECT_EQ((std::vector<uintptr_t>{kHeader, 0, kHeader + 2}),
            (std::vector<uintptr_t>{narrow->profileName.offset, narrow->password.offset, narrow->folderPath.offset}));
  EXPECT_STREQ("a#b", StringOf(narrow, narrow->folderPath));
  KVEFreeDestinationOptionsA(0, narrow);

  const Bytes narrowBlock = MakeBlock<char>("a", "", "abc", ReportInstance);  // 2, 1 and 4 bytes
  KVEDestinationOptions* wide = nullptr;
  ASSERT_EQ(KVE_OK, KVEA2WDestinationOptions(reinterpret_cast<const KVEDestinationOptionsA*>(narrowBlock.data()), &wide,
                                             &size));
  EXPECT_EQ(U16(kHeader + 2 * 7), size);
  EXPECT_EQ((std::vector<uintptr_t>{kHeader, kHeader + 4, kHeader + 6}),
            (std::vector<uintptr_t>{wide->profileName.offset, wide->password.offset, wide->folderPath.offset}));
  EXPECT_STREQ(L"", StringOf(wide, wide->password)) << "an empty string is present, not absent";
  EXPECT_STREQ(L"abc", StringOf(wide, wide->folderPath));
  KVEFreeDestinationOptionsW(0, wide);

  const KVEDestinationOptionsA longer = PointerRecord<char>("Profil", "pw", nullptr, ReportInstance, kHeader + 22);
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsA2W(&longer, &wide, nullptr));
  EXPECT_EQ(U16(kHeader), wide->structSize) << "read as the known record, written at the current size";
  EXPECT_STREQ(L"pw", wide->password.pointer);
  KVEFreeDestinationOptionsW(0, wide);
}

// A narrow block whose wide form would pass 65,535 bytes cannot be converted.
TEST(OptionsConversion, ABlockTooLargeFor16BitsIsRefused) {
  const std::string longPath(40000, 'x');
  const Bytes large = MakeBlock<char>("Profil", nullptr, longPath.c_str(), FolderReport);
  EXPECT_EQ(KVE_BAD_ARGUMENT, ConvertAndFree(large.data(), true, "block too large for 16 bits"));
}

// Run in a process with code page 932 (see kv2fold/platform/CMakeLists.txt).
TEST(OptionsDoubleByte, NarrowStringsFollowEachOtherByTheirRealLength) {
  KV_REQUIRE_DOUBLE_BYTE_CODE_PAGE();
  const wchar_t* profile = L"\u65e5\u672c";              // 3 units with the terminator, 5 bytes
  const wchar_t* folder = L"\u6771\u4eac#\u672c\u793e";  // 6 units, 10 bytes
  const Bytes block = MakeBlock<wchar_t>(profile, nullptr, folder, FolderReport);
  KVEDestinationOptionsA* narrow = nullptr;
  WORD size = 0;
  ASSERT_EQ(KVE_OK,
            KVEDestinationOptionsW2A(reinterpret_cast<const KVEDestinationOptions*>(block.data()), &narrow, &size));
  EXPECT_EQ(U16(kHeader + 2 * (3 + 6)), size) << "two bytes reserved per character";
  EXPECT_EQ(kHeader + 5, narrow->folderPath.offset) << "right behind the profile name's five bytes";
  EXPECT_EQ(9u, strlen(StringOf(narrow, narrow->folderPath)));
  KVEDestinationOptions* wide = nullptr;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsA2W(narrow, &wide, &size));
  EXPECT_EQ(U16(kHeader + 2 * (5 + 10)), size) << "two bytes per narrow byte";
  EXPECT_STREQ(profile, StringOf(wide, wide->profileName));
  EXPECT_STREQ(folder, StringOf(wide, wide->folderPath));
  KVEFreeDestinationOptionsA(0, narrow);
  KVEFreeDestinationOptionsW(0, wide);
}
