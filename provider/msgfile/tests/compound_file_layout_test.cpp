// The layout rules that every reader relies on: sibling order, tree shape,
// table sizes, and what a header must say.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "compound_file_layout.h"

using namespace msgfile::cfb;

namespace {

// Checks the red-black rules on the subtree under id; returns its black height.
int BlackHeight(const std::vector<DirectoryEntry>& entries, uint32_t id, bool parentRed, std::vector<uint32_t>* inOrder,
                bool* valid) {
  if (id == kNoStream) return 1;
  const DirectoryEntry& node = entries[id];
  const bool red = node.color == Color::Red;
  if (red && parentRed) *valid = false;
  const int left = BlackHeight(entries, node.left, red, inOrder, valid);
  inOrder->push_back(id);
  const int right = BlackHeight(entries, node.right, red, inOrder, valid);
  if (left != right) *valid = false;
  return left + (red ? 0 : 1);
}

}  // namespace

TEST(SiblingTree, EveryCountGivesASortedValidRedBlackTree) {
  for (uint32_t count = 1; count <= 700; ++count) {
    std::vector<DirectoryEntry> entries(count);
    std::vector<uint32_t> sorted(count);
    for (uint32_t i = 0; i < count; ++i) sorted[i] = i;
    const uint32_t root = BuildSiblingTree(sorted, &entries);
    ASSERT_NE(kNoStream, root);
    EXPECT_EQ(Color::Black, entries[root].color) << count << " siblings";
    std::vector<uint32_t> inOrder;
    bool valid = true;
    BlackHeight(entries, root, false, &inOrder, &valid);
    EXPECT_TRUE(valid) << "red-black rules broken for " << count << " siblings";
    EXPECT_EQ(sorted, inOrder) << "in-order walk must give the sorted order for " << count << " siblings";
  }
  std::vector<DirectoryEntry> none;
  EXPECT_EQ(kNoStream, BuildSiblingTree({}, &none));
}

TEST(SiblingOrder, ShorterFirstThenUpperCasedCodeUnits) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    int sign;
  };
  const Case cases[] = {
      {L"b", L"aa", -1},  // length decides before content
      {L"ABC", L"abd", -1},
      {L"abc", L"ABC", 0},  // a collision: one of them must be refused
      {L"Z", L"a", 1},      // 'Z' > 'A' once upper-cased, though 'Z' < 'a' as stored
      {L"_", L"a", 1},      // '_' (0x5F) sorts after 'A' (0x41)
      {L"__substg1.0_0037001F", L"__substg1.0_0037001E", 1},
      {L"\u00e9t\u00e9", L"\u00c9T\u00c9", 0},
  };
  for (const Case& c : cases) {
    const int result = CompareNames(c.a, c.b);
    const int sign = result < 0 ? -1 : result > 0 ? 1 : 0;
    EXPECT_EQ(c.sign, sign) << "comparing \"" << testing::PrintToString(std::wstring(c.a)) << "\" with "
                            << testing::PrintToString(std::wstring(c.b));
    EXPECT_EQ(-c.sign, CompareNames(c.b, c.a) < 0 ? -1 : CompareNames(c.b, c.a) > 0 ? 1 : 0);
  }
}

TEST(SiblingOrder, NamesTheDirectoryAccepts) {
  const std::wstring longest(31, L'x');
  const std::wstring tooLong(32, L'x');
  struct Case {
    const wchar_t* name;
    bool valid;
  };
  const Case cases[] = {{L"", false},       {longest.c_str(), true}, {tooLong.c_str(), false}, {L"a/b", false},
                        {L"a\\b", false},   {L"a:b", false},         {L"a!b", false},          {L"\x05Summary", true},
                        {L"__nameid_version1.0", true}};
  for (const Case& c : cases) EXPECT_EQ(c.valid, IsValidName(c.name)) << testing::PrintToString(std::wstring(c.name));
  EXPECT_FALSE(IsValidName(nullptr));
}

TEST(FatLayout, TablesCoverTheDataAndThemselves) {
  struct Case {
    uint64_t dataSectors;
    uint32_t entriesPerSector;
    uint32_t fat;
    uint32_t difat;
  };
  // Worked out by hand: a 512-byte FAT sector describes 128 sectors, itself included.
  const Case cases[] = {
      {1, 128, 1, 0},          {127, 128, 1, 0},      {128, 128, 2, 0},     {254, 128, 2, 0},
      {255, 128, 3, 0},        {13843, 128, 109, 0},  // the header's 109 slots are full
      {13844, 128, 110, 1},                           // one more sector needs the first DIFAT sector
      {1023, 1024, 1, 0},      {1024, 1024, 2, 0},
  };
  for (const Case& c : cases) {
    const FatLayout layout = ComputeFatLayout(c.dataSectors, c.entriesPerSector);
    EXPECT_EQ(c.fat, layout.fatSectors) << c.dataSectors << " sectors of " << c.entriesPerSector * 4 << " bytes";
    EXPECT_EQ(c.difat, layout.difatSectors) << c.dataSectors << " sectors of " << c.entriesPerSector * 4 << " bytes";
  }
  // For larger files: enough entries for everything, and no FAT sector to spare.
  for (uint64_t data : {20000ull, 40960ull, 2097152ull, 4194000ull}) {
    const FatLayout layout = ComputeFatLayout(data, 128);
    const uint64_t perDifat = 127;
    const uint64_t needDifat = layout.fatSectors > 109 ? (layout.fatSectors - 109 + perDifat - 1) / perDifat : 0;
    EXPECT_EQ(needDifat, layout.difatSectors) << data;
    EXPECT_GE(uint64_t{layout.fatSectors} * 128, data + layout.fatSectors + layout.difatSectors) << data;
    const uint64_t fewer = layout.fatSectors - 1;
    const uint64_t fewerDifat = fewer > 109 ? (fewer - 109 + perDifat - 1) / perDifat : 0;
    EXPECT_LT(fewer * 128, data + fewer + fewerDifat) << data;
  }
}

TEST(Header, ReadersRefuseWhatIsNotACompoundFileWeRead) {
  Geometry v3;
  ASSERT_TRUE(GeometryForVersion(3, &v3));
  Header header;
  header.geometry = v3;
  uint8_t good[kHeaderBytes];
  EncodeHeader(header, good);
  Header decoded;
  ASSERT_EQ(S_OK, DecodeHeader(good, &decoded));
  EXPECT_EQ(512u, decoded.geometry.sectorSize);

  struct Case {
    const char* what;
    size_t offset;
    uint8_t value;
    HRESULT expected;
  };
  const Case cases[] = {
      {"signature", 0, 0x00, STG_E_INVALIDHEADER},      {"byte order", 0x1C, 0xFF, STG_E_INVALIDHEADER},
      {"major version 5", 0x1A, 5, STG_E_OLDFORMAT},     {"4096-byte sectors in version 3", 0x1E, 12, STG_E_INVALIDHEADER},
      {"mini sector shift", 0x20, 7, STG_E_INVALIDHEADER}, {"mini stream cutoff", 0x39, 0x20, STG_E_INVALIDHEADER},
  };
  for (const Case& c : cases) {
    uint8_t bad[kHeaderBytes];
    std::memcpy(bad, good, sizeof bad);
    bad[c.offset] = c.value;
    EXPECT_EQ(c.expected, DecodeHeader(bad, &decoded)) << c.what;
  }
}
