// The options record: the reading rule on untrusted host bytes (records placed
// right before a page that faults), the narrow/wide conversions in both
// layouts, and the free operations. Expected offsets are computed from the
// build's header size, 18 bytes on Win32 and 30 on Win64.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "interface/kve_api.h"
#include "options/options_record.h"
#include "platform/tests/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kHeader = sizeof(KVEDestinationOptions);  // the build's own record size
constexpr WORD kUnsetSize = 0xBEEF;

template <typename Char>
size_t UnitsOf(const Char* text) {
  size_t units = 0;
  while (text[units] != 0) ++units;
  return units + 1;
}

// Bytes of a block as a host writes it: header, then the present strings in
// order with their terminators. block32 writes the 18-byte header of a 32-bit host.
template <typename Char>
Bytes MakeBlock(const Char* profile, const Char* password, const Char* folder, uint16_t kind, bool block32 = false) {
  const size_t header = block32 ? sizeof(KVEDestinationOptionsBlock32) : kHeader;
  const Char* strings[3] = {profile, password, folder};
  uintptr_t offsets[3] = {};
  Bytes body;
  for (int i = 0; i < 3; ++i) {
    if (!strings[i]) continue;
    offsets[i] = header + body.size();
    const auto* bytes = reinterpret_cast<const unsigned char*>(strings[i]);
    body.insert(body.end(), bytes, bytes + UnitsOf(strings[i]) * sizeof(Char));
  }
  Bytes block(header);
  const auto blockSize = static_cast<uint16_t>(header + body.size());
  if (block32) {
    KVEDestinationOptionsBlock32 record{static_cast<uint16_t>(header), static_cast<uint32_t>(offsets[0]),
                                        static_cast<uint32_t>(offsets[1]), kind, static_cast<uint32_t>(offsets[2]),
                                        blockSize};
    memcpy(block.data(), &record, header);
  } else {
    KVEDestinationOptionsT<Char> record{};
    record.structSize = static_cast<uint16_t>(header);
    record.profileName.offset = offsets[0];
    record.password.offset = offsets[1];
    record.postingKind = kind;
    record.folderPath.offset = offsets[2];
    record.blockSize = blockSize;
    memcpy(block.data(), &record, header);
  }
  block.insert(block.end(), body.begin(), body.end());
  return block;
}

template <typename Char>
KVEDestinationOptionsT<Char> MakePointerRecord(const Char* profile, const Char* password, const Char* folder,
                                               uint16_t kind, uint16_t structSize = kHeader) {
  KVEDestinationOptionsT<Char> record{};
  record.structSize = structSize;
  record.profileName.pointer = profile;
  record.password.pointer = password;
  record.postingKind = kind;
  record.folderPath.pointer = folder;
  return record;
}

// Patches a header field of a native block: the field's offset in the record.
void SetOffset(Bytes& block, size_t fieldOffset, uintptr_t value) {
  memcpy(block.data() + fieldOffset, &value, sizeof(value));
}
constexpr size_t kProfileField = offsetof(KVEDestinationOptions, profileName);
constexpr size_t kFolderField = offsetof(KVEDestinationOptions, folderPath);
constexpr size_t kBlockSizeField = offsetof(KVEDestinationOptions, blockSize);

// A string of an output record, pointer or block layout alike.
template <typename Char>
const Char* StringOf(const KVEDestinationOptionsT<Char>* record, const KVEStringFieldT<Char>& field) {
  if (record->blockSize == 0) return field.pointer;
  if (field.offset == 0) return nullptr;
  return reinterpret_cast<const Char*>(reinterpret_cast<const unsigned char*>(record) + field.offset);
}

// Converts in either direction; the result is freed with the matching free.
int Convert(const void* record, bool narrowInput, void** out, WORD* size) {
  if (narrowInput) {
    return KVEDestinationOptionsA2W(static_cast<const KVEDestinationOptionsA*>(record),
                                    reinterpret_cast<KVEDestinationOptions**>(out), size);
  }
  return KVEDestinationOptionsW2A(static_cast<const KVEDestinationOptions*>(record),
                                  reinterpret_cast<KVEDestinationOptionsA**>(out), size);
}
void FreeConverted(void* out, bool narrowInput) {
  if (narrowInput) {
    KVEFreeDestinationOptionsW(0, static_cast<KVEDestinationOptions*>(out));
  } else {
    KVEFreeDestinationOptionsA(0, static_cast<KVEDestinationOptionsA*>(out));
  }
}

// The code a conversion of these bytes gives; the output is released and the
// module heap is back where it started.
int ConvertOneWay(const void* record, bool narrowInput, const char* what) {
  const long heapBlocks = kvtest::CountModuleHeapBlocks();
  void* out = reinterpret_cast<void*>(0xdeadbeef);
  int result = Convert(record, narrowInput, &out, nullptr);
  if (result == KVE_OK) {
    FreeConverted(out, narrowInput);
  } else {
    EXPECT_EQ(nullptr, out) << what << ": a failure hands out nothing";
  }
  EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks()) << what << ": nothing may be left allocated";
  return result;
}

// For records without strings, which both forms read alike.
int ConvertBothWays(const void* record, const char* what) {
  int fromNarrow = ConvertOneWay(record, true, what);
  int fromWide = ConvertOneWay(record, false, what);
  EXPECT_EQ(fromNarrow, fromWide) << what << ": both directions read the record alike";
  return fromWide;
}

uint16_t U16(size_t value) { return static_cast<uint16_t>(value); }

}  // namespace

TEST(OptionsConversion, NullRecordGivesNoRecordAndNullOutIsRefused) {
  KVEDestinationOptions* wide = reinterpret_cast<KVEDestinationOptions*>(0xdeadbeef);
  WORD size = kUnsetSize;
  EXPECT_EQ(KVE_OK, KVEDestinationOptionsA2W(nullptr, &wide, &size));
  EXPECT_EQ(nullptr, wide);
  KVEDestinationOptionsA* narrow = reinterpret_cast<KVEDestinationOptionsA*>(0xdeadbeef);
  EXPECT_EQ(KVE_OK, KVEDestinationOptionsW2A(nullptr, &narrow, &size));
  EXPECT_EQ(nullptr, narrow);

  KVEDestinationOptionsA record = MakePointerRecord<char>("p", nullptr, nullptr, FolderReport);
  EXPECT_EQ(KVE_BAD_ARGUMENT, KVEDestinationOptionsA2W(&record, nullptr, &size));
  EXPECT_EQ(0, KVEFreeDestinationOptionsW(0, nullptr));
  EXPECT_EQ(0, KVEFreeDestinationOptionsA(0, nullptr));
}

TEST(OptionsReadingRule, StructSizeDecidesHowARecordIsRead) {
  const bool win64 = sizeof(void*) == 8;
  const struct {
    uint16_t structSize;
    uint16_t sizeAtByte16;  // blockSize of an 18-byte header
    int expected;
  } table[] = {
      {0, 0, KVE_BAD_ARGUMENT},
      {1, 0, KVE_BAD_ARGUMENT},
      {2, 0, KVE_BAD_ARGUMENT},  // too short for the fields it would be read for
      {17, 0, KVE_BAD_ARGUMENT},
      {17, 18, KVE_BAD_ARGUMENT},
      {18, 18, KVE_OK},  // a block of a bare 18-byte header: native on Win32, from a 32-bit host on Win64
      {29, 18, KVE_OK},
      {18, 0, win64 ? KVE_BAD_ARGUMENT : KVE_OK},  // pointers of a 32-bit host mean nothing to a 64-bit module
      {static_cast<uint16_t>(kHeader), 0, KVE_OK},
      {static_cast<uint16_t>(kHeader + 22), 0, KVE_OK},
  };
  for (const auto& row : table) {
    Bytes record(2 * kHeader, 0);
    memcpy(record.data(), &row.structSize, 2);
    memcpy(record.data() + 16, &row.sizeAtByte16, 2);
    const std::string what = "structSize " + std::to_string(row.structSize);
    EXPECT_EQ(row.expected, ConvertBothWays(record.data(), what.c_str()));
  }
}

TEST(OptionsReadingRule, HostMemoryIsProbedBeforeItIsRead) {
  kvtest::GuardedPage page;
  ASSERT_TRUE(page.valid());
  const uint16_t nativeSize = kHeader;
  const Bytes narrowBlock = MakeBlock<char>("Profil", nullptr, "Ablage", ReportInstance);
  const Bytes wideBlock = MakeBlock<wchar_t>(L"Profil", L"pw", L"Ablage", ReportInstance);
  // Claims two more bytes than it has: they lie in the faulting page.
  Bytes longerBlock = narrowBlock;
  const uint16_t claimed = U16(narrowBlock.size() + 2);
  memcpy(longerBlock.data() + kBlockSizeField, &claimed, 2);
  // The last terminator would be the first faulting byte.
  Bytes narrowCut = narrowBlock;
  narrowCut.pop_back();
  const uint16_t narrowCutSize = U16(narrowCut.size());
  memcpy(narrowCut.data() + kBlockSizeField, &narrowCutSize, 2);
  Bytes wideCut = wideBlock;
  wideCut.resize(wideCut.size() - 2);
  const uint16_t wideCutSize = U16(wideCut.size());
  memcpy(wideCut.data() + kBlockSizeField, &wideCutSize, 2);
  const KVEDestinationOptionsA pointerRecord = MakePointerRecord<char>("p", nullptr, nullptr, FolderReport);

  enum Direction { FromNarrow, FromWide, Both };
  const struct {
    const char* what;
    const void* bytes;
    size_t size;
    size_t readable;  // bytes before the fault
    Direction direction;
    int expected;
  } cases[] = {
      {"pointer record of exactly its size", &pointerRecord, sizeof(pointerRecord), sizeof(pointerRecord), FromNarrow,
       KVE_OK},
      {"narrow block of exactly blockSize bytes", narrowBlock.data(), narrowBlock.size(), narrowBlock.size(),
       FromNarrow, KVE_OK},
      {"wide block of exactly blockSize bytes", wideBlock.data(), wideBlock.size(), wideBlock.size(), FromWide, KVE_OK},
      {"block claiming bytes beyond the page", longerBlock.data(), longerBlock.size(), longerBlock.size() - 2,
       FromNarrow, KVE_BAD_ARGUMENT},
      {"narrow string unterminated in the block", narrowCut.data(), narrowCut.size(), narrowCut.size(), FromNarrow,
       KVE_BAD_ARGUMENT},
      {"wide string unterminated in the block", wideCut.data(), wideCut.size(), wideCut.size(), FromWide,
       KVE_BAD_ARGUMENT},
      {"only the size is readable", &nativeSize, 2, 2, Both, KVE_BAD_ARGUMENT},
      {"first byte readable, second not", &nativeSize, 2, 1, Both, KVE_BAD_ARGUMENT},
      {"nothing readable", &nativeSize, 2, 0, Both, KVE_BAD_ARGUMENT},
  };
  for (const auto& c : cases) {
    unsigned char* at = page.EndMinus(c.readable);
    memcpy(at, c.bytes, std::min(c.readable, c.size));
    int result = c.direction == Both ? ConvertBothWays(at, c.what) : ConvertOneWay(at, c.direction == FromNarrow, c.what);
    EXPECT_EQ(c.expected, result) << c.what;
  }

  // Readable but not writable: the first two bytes must be both.
  const void* readOnly = page.PlaceAtEnd(&pointerRecord, sizeof(pointerRecord));
  page.ProtectFirstPage(PAGE_READONLY);
  EXPECT_EQ(KVE_BAD_ARGUMENT, ConvertOneWay(readOnly, true, "read-only record"));
  page.ProtectFirstPage(PAGE_READWRITE);
  EXPECT_EQ(KVE_OK, ConvertOneWay(readOnly, true, "the same record made writable"));
}

TEST(OptionsReadingRule, BlockOffsetsAndStringsMustStayInsideTheBlock) {
  const Bytes wide = MakeBlock<wchar_t>(L"Profil", L"pw", L"Ablage", FolderReport);
  const Bytes narrow = MakeBlock<char>("Profil", "pw", "Ablage", FolderReport);
  struct Mutation {
    const char* what;
    size_t field;  // header offset of a string field, or of blockSize
    uintptr_t value;
    int expected;
  };
  const size_t wideSize = wide.size();
  const Mutation mutations[] = {
      {"folder path offset at blockSize", kFolderField, wideSize, KVE_BAD_ARGUMENT},
      {"folder path offset beyond blockSize", kFolderField, wideSize + 40, KVE_BAD_ARGUMENT},
      {"profile offset inside the header", kProfileField, 2, KVE_BAD_ARGUMENT},
      {"profile offset 0 means absent", kProfileField, 0, KVE_OK},
      {"wide text at an odd offset", kProfileField, kHeader + 1, KVE_BAD_ARGUMENT},
  };
  for (const Mutation& m : mutations) {
    Bytes block = wide;
    SetOffset(block, m.field, m.value);
    KVEDestinationOptionsA* out = nullptr;
    EXPECT_EQ(m.expected, KVEDestinationOptionsW2A(reinterpret_cast<const KVEDestinationOptions*>(block.data()),
                                                   &out, nullptr))
        << m.what;
    KVEFreeDestinationOptionsA(0, out);
  }

  // blockSize below the header, and a blockSize that cuts the last string's
  // terminator off although the byte lies in readable memory.
  for (uint16_t blockSize : {static_cast<uint16_t>(kHeader - 1), static_cast<uint16_t>(narrow.size() - 1)}) {
    Bytes block = narrow;
    memcpy(block.data() + kBlockSizeField, &blockSize, 2);
    KVEDestinationOptions* out = nullptr;
    EXPECT_EQ(KVE_BAD_ARGUMENT,
              KVEDestinationOptionsA2W(reinterpret_cast<const KVEDestinationOptionsA*>(block.data()), &out, nullptr))
        << "blockSize " << blockSize;
    EXPECT_EQ(nullptr, out);
  }
}

TEST(OptionsConversion, WidePointerRecordBecomesNarrowPointerRecord) {
  const KVEDestinationOptions record = MakePointerRecord<wchar_t>(L"P", nullptr, L"a#b", FolderReport);
  KVEDestinationOptionsA* out = nullptr;
  WORD size = kUnsetSize;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsW2A(&record, &out, &size));
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(0, size);
  EXPECT_EQ(U16(kHeader), out->structSize);
  EXPECT_EQ(0, out->blockSize);
  EXPECT_EQ(FolderReport, out->postingKind);
  EXPECT_STREQ("P", out->profileName.pointer);
  EXPECT_EQ(nullptr, out->password.pointer);
  EXPECT_STREQ("a#b", out->folderPath.pointer);
  EXPECT_EQ(0, KVEFreeDestinationOptionsA(0, out));
}

TEST(OptionsConversion, WideBlockBecomesNarrowBlockWithTheDocumentedOffsets) {
  const Bytes block = MakeBlock<wchar_t>(L"P", nullptr, L"a#b", PersonalReport);
  KVEDestinationOptionsA* out = nullptr;
  WORD size = kUnsetSize;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsW2A(reinterpret_cast<const KVEDestinationOptions*>(block.data()), &out, &size));
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(U16(kHeader + 2 * (2 + 0 + 4)), size);
  EXPECT_EQ(size, out->blockSize);
  EXPECT_EQ(U16(kHeader), out->structSize);
  EXPECT_EQ(PersonalReport, out->postingKind);
  EXPECT_EQ(kHeader, out->profileName.offset);
  EXPECT_EQ(0u, out->password.offset);
  EXPECT_EQ(kHeader + 2, out->folderPath.offset);
  EXPECT_STREQ("P", StringOf(out, out->profileName));
  EXPECT_STREQ("a#b", StringOf(out, out->folderPath));
  EXPECT_EQ(0, KVEFreeDestinationOptionsA(0, out));
}

TEST(OptionsConversion, NarrowBlockBecomesWideBlockAtTwoBytesPerCharacter) {
  const Bytes block = MakeBlock<char>("a", "", "abc", FolderReport);  // 2, 1 and 4 bytes
  KVEDestinationOptions* out = nullptr;
  WORD size = kUnsetSize;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsA2W(reinterpret_cast<const KVEDestinationOptionsA*>(block.data()), &out, &size));
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(U16(kHeader + 2 * 7), size);
  EXPECT_EQ(size, out->blockSize);
  EXPECT_EQ(kHeader, out->profileName.offset);
  EXPECT_EQ(kHeader + 4, out->password.offset);
  EXPECT_EQ(kHeader + 6, out->folderPath.offset);
  EXPECT_STREQ(L"a", StringOf(out, out->profileName));
  EXPECT_STREQ(L"", StringOf(out, out->password)) << "an empty string is present, not absent";
  EXPECT_STREQ(L"abc", StringOf(out, out->folderPath));
  KVEFreeDestinationOptionsW(0, out);
}

TEST(OptionsConversion, LargerStructSizeIsReadAsTheKnownRecord) {
  const KVEDestinationOptionsA record =
      MakePointerRecord<char>("Profil", "pw", nullptr, ReportInstance, static_cast<uint16_t>(kHeader + 22));
  KVEDestinationOptions* out = nullptr;
  WORD size = kUnsetSize;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsA2W(&record, &out, &size));
  EXPECT_EQ(U16(kHeader), out->structSize);
  EXPECT_EQ(0, out->blockSize);
  EXPECT_EQ(0, size);
  EXPECT_STREQ(L"Profil", out->profileName.pointer);
  EXPECT_STREQ(L"pw", out->password.pointer);
  EXPECT_EQ(nullptr, out->folderPath.pointer);
  KVEFreeDestinationOptionsW(0, out);
}

TEST(OptionsConversion, BlockOfA32BitHostIsReadOnEveryBuild) {
  kvtest::GuardedPage page;
  ASSERT_TRUE(page.valid());
  const Bytes narrow32 = MakeBlock<char>("Profil", "geheim", "Ablage#Berichte", ReportInstance, true);
  const auto* placed = page.PlaceAtEnd<KVEDestinationOptionsA>(narrow32.data(), narrow32.size());
  KVEDestinationOptions* wide = nullptr;
  WORD size = kUnsetSize;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsA2W(placed, &wide, &size));
  EXPECT_EQ(U16(kHeader), wide->structSize) << "output records are in the build's own layout";
  EXPECT_EQ(U16(kHeader + 2 * (7 + 7 + 16)), size);
  EXPECT_EQ(kHeader, wide->profileName.offset);
  EXPECT_EQ(kHeader + 14, wide->password.offset);
  EXPECT_EQ(kHeader + 28, wide->folderPath.offset);
  EXPECT_EQ(ReportInstance, wide->postingKind);
  EXPECT_STREQ(L"Ablage#Berichte", StringOf(wide, wide->folderPath));
  KVEFreeDestinationOptionsW(0, wide);

  const Bytes wide32 = MakeBlock<wchar_t>(L"Profil", nullptr, L"Ablage", FolderReport, true);
  const auto* placedWide = page.PlaceAtEnd<KVEDestinationOptions>(wide32.data(), wide32.size());
  KVEDestinationOptionsA* narrow = nullptr;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsW2A(placedWide, &narrow, &size));
  EXPECT_EQ(U16(kHeader + 2 * (7 + 7)), size);
  EXPECT_STREQ("Profil", StringOf(narrow, narrow->profileName));
  EXPECT_EQ(0u, narrow->password.offset);
  EXPECT_STREQ("Ablage", StringOf(narrow, narrow->folderPath));
  KVEFreeDestinationOptionsA(0, narrow);
}

TEST(OptionsConversion, RoundTripKeepsEveryFieldAndTheHostRecord) {
  char profile[16];
  WideCharToMultiByte(CP_ACP, 0, L"Gr\u00fc\u00dfe", -1, profile, sizeof(profile), nullptr, nullptr);
  const KVEDestinationOptionsA pointerRecord = MakePointerRecord<char>(profile, "pw", "A#B#C", FolderReport);
  const Bytes block = MakeBlock<char>(profile, nullptr, "A#B#C", PersonalReport);
  const struct {
    const char* what;
    const KVEDestinationOptionsA* record;
    size_t size;
  } inputs[] = {
      {"pointer layout", &pointerRecord, sizeof(pointerRecord)},
      {"block layout", reinterpret_cast<const KVEDestinationOptionsA*>(block.data()), block.size()},
  };
  for (const auto& input : inputs) {
    const Bytes before(reinterpret_cast<const unsigned char*>(input.record),
                       reinterpret_cast<const unsigned char*>(input.record) + input.size);
    const long heapBlocks = kvtest::CountModuleHeapBlocks();
    KVEDestinationOptions* wide = nullptr;
    ASSERT_EQ(KVE_OK, KVEA2WDestinationOptions(input.record, &wide, nullptr)) << input.what;
    EXPECT_STREQ(L"Gr\u00fc\u00dfe", StringOf(wide, wide->profileName)) << input.what;
    KVEDestinationOptionsA* narrow = nullptr;
    WORD size = kUnsetSize;
    ASSERT_EQ(KVE_OK, KVEDestinationOptionsW2A(wide, &narrow, &size)) << input.what;
    EXPECT_EQ(input.record->postingKind, narrow->postingKind) << input.what;
    EXPECT_EQ(input.record->blockSize == 0, narrow->blockSize == 0) << input.what << ": the layout is kept";
    const KVEStringFieldT<char> KVEDestinationOptionsA::*fields[] = {
        &KVEDestinationOptionsA::profileName, &KVEDestinationOptionsA::password, &KVEDestinationOptionsA::folderPath};
    for (auto field : fields) {
      const char* expected = StringOf(input.record, input.record->*field);
      const char* actual = StringOf(narrow, narrow->*field);
      if (!expected) {
        EXPECT_EQ(nullptr, actual) << input.what;
      } else {
        ASSERT_NE(nullptr, actual) << input.what;
        EXPECT_STREQ(expected, actual) << input.what;
      }
    }
    KVEFreeDestinationOptionsW(0, wide);
    KVEFreeDestinationOptionsA(0, narrow);
    EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks()) << input.what;
    EXPECT_EQ(before, Bytes(reinterpret_cast<const unsigned char*>(input.record),
                            reinterpret_cast<const unsigned char*>(input.record) + input.size))
        << input.what << ": the host's record is never modified";
  }
}

TEST(OptionsConversion, FreeReleasesOneBlockOrEachStringAndTheRecord) {
  const KVEDestinationOptionsA twoStrings = MakePointerRecord<char>("Profil", nullptr, "Ablage", FolderReport);
  const KVEDestinationOptionsA noStrings = MakePointerRecord<char>(nullptr, nullptr, nullptr, PersonalReport);
  const Bytes block = MakeBlock<char>("Profil", "pw", "Ablage", FolderReport);
  const struct {
    const char* what;
    const KVEDestinationOptionsA* record;
    long blocks;
  } cases[] = {
      {"pointer record with two strings", &twoStrings, 3},
      {"pointer record without strings", &noStrings, 1},
      {"block record", reinterpret_cast<const KVEDestinationOptionsA*>(block.data()), 1},
  };
  for (const auto& c : cases) {
    KVEDestinationOptions* wide = nullptr;
    ASSERT_EQ(KVE_OK, KVEDestinationOptionsA2W(c.record, &wide, nullptr)) << c.what;
    const long held = kvtest::CountModuleHeapBlocks();
    EXPECT_EQ(0, KVEFreeDestinationOptionsW(0x1234, wide)) << c.what;
    EXPECT_EQ(held - c.blocks, kvtest::CountModuleHeapBlocks()) << c.what;
  }
}

TEST(OptionsConversion, BlockTooLargeForSixteenBitsIsRefused) {
  const std::string longPath(40000, 'x');
  const Bytes block = MakeBlock<char>("Profil", nullptr, longPath.c_str(), FolderReport);
  ASSERT_LT(block.size(), 0x10000u) << "the narrow block itself is valid";
  KVEDestinationOptions* wide = reinterpret_cast<KVEDestinationOptions*>(0xdeadbeef);
  EXPECT_EQ(KVE_BAD_ARGUMENT,
            KVEDestinationOptionsA2W(reinterpret_cast<const KVEDestinationOptionsA*>(block.data()), &wide, nullptr));
  EXPECT_EQ(nullptr, wide);
}

TEST(OptionsReadingRule, CopyOutlivesTheHostBlock) {
  DestinationOptionsCopy<wchar_t> copy;
  {
    Bytes block = MakeBlock<wchar_t>(L"Profil", nullptr, L"Ablage", FolderReport);
    ASSERT_EQ(KVE_OK, ReadDestinationOptions(reinterpret_cast<const KVEDestinationOptions*>(block.data()), copy));
    std::fill(block.begin(), block.end(), 0xEE);  // the host reuses its bytes
  }
  EXPECT_TRUE(copy.blockLayout);
  EXPECT_EQ(FolderReport, copy.postingKind);
  EXPECT_STREQ(L"Profil", copy.profileName);
  EXPECT_EQ(nullptr, copy.password);
  EXPECT_STREQ(L"Ablage", copy.folderPath);
}

// Run by the double-byte test in a Japanese locale (code page 932).
class OptionsDoubleByte : public testing::Test {
 protected:
  void SetUp() override {
    if (!kvtest::HasDoubleByteCodePage()) {
      if (kvtest::DoubleByteCodePageRequired()) FAIL() << "the ANSI code page " << GetACP() << " is not double-byte";
      GTEST_SKIP() << "the ANSI code page " << GetACP() << " is single-byte";
    }
  }
};

TEST_F(OptionsDoubleByte, NarrowStringsFollowEachOtherByTheirRealLength) {
  const wchar_t* profile = L"\u65e5\u672c";             // 3 characters, 5 bytes
  const wchar_t* folder = L"\u6771\u4eac#\u672c\u793e";  // 6 characters, 11 bytes
  const Bytes block = MakeBlock<wchar_t>(profile, nullptr, folder, FolderReport);
  KVEDestinationOptionsA* narrow = nullptr;
  WORD size = kUnsetSize;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsW2A(reinterpret_cast<const KVEDestinationOptions*>(block.data()), &narrow, &size));
  EXPECT_EQ(U16(kHeader + 2 * (3 + 6)), size) << "two bytes reserved per character";
  EXPECT_EQ(kHeader, narrow->profileName.offset);
  EXPECT_EQ(kHeader + 5, narrow->folderPath.offset) << "right behind the profile name's five bytes";
  char expected[32];
  WideCharToMultiByte(CP_ACP, 0, folder, -1, expected, sizeof(expected), nullptr, nullptr);
  EXPECT_EQ(11u, strlen(expected) + 1);
  EXPECT_STREQ(expected, StringOf(narrow, narrow->folderPath));

  // And back: the wide block holds the original text.
  KVEDestinationOptions* wide = nullptr;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsA2W(narrow, &wide, &size));
  EXPECT_EQ(U16(kHeader + 2 * (5 + 11)), size) << "two bytes per narrow byte";
  EXPECT_STREQ(profile, StringOf(wide, wide->profileName));
  EXPECT_STREQ(folder, StringOf(wide, wide->folderPath));
  KVEFreeDestinationOptionsA(0, narrow);
  KVEFreeDestinationOptionsW(0, wide);
}

TEST_F(OptionsDoubleByte, PointerLayoutStringsConvertWhole) {
  const KVEDestinationOptions record = MakePointerRecord<wchar_t>(L"\u65e5\u672c\u8a9e", L"pw", nullptr, FolderReport);
  KVEDestinationOptionsA* narrow = nullptr;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsW2A(&record, &narrow, nullptr));
  EXPECT_EQ(6u, strlen(narrow->profileName.pointer));
  KVEDestinationOptions* wide = nullptr;
  ASSERT_EQ(KVE_OK, KVEDestinationOptionsA2W(narrow, &wide, nullptr));
  EXPECT_STREQ(L"\u65e5\u672c\u8a9e", wide->profileName.pointer);
  KVEFreeDestinationOptionsA(0, narrow);
  KVEFreeDestinationOptionsW(0, wide);
}
