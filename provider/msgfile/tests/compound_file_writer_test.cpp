// Files from our writer, opened with the system's structured storage: every
// name, class id and byte must come out as written.
#include <windows.h>

#include <gtest/gtest.h>

#include <msgfile/compound_file_reader.h>
#include <msgfile/compound_file_writer.h>

#include "compound_file_layout.h"
#include "test_support.h"

using msgfile::CompoundFileReader;
using msgfile::CompoundFileWriter;
using msgfile::ContentId;
using msgfile::EntryId;
using msgfile::kRootEntry;
using msgfile::StreamReader;
using namespace msgfile_test;

namespace {

// Writes bytes as streamed content in pieces of the given size; returns the content.
ContentId Stream(CompoundFileWriter* writer, const std::vector<uint8_t>& bytes, size_t piece) {
  ContentId content = msgfile::kNoContent;
  EXPECT_EQ(S_OK, writer->BeginContent(&content));
  for (size_t done = 0; done < bytes.size(); done += piece) {
    EXPECT_EQ(S_OK, writer->WriteContent(bytes.data() + done, std::min(piece, bytes.size() - done)));
  }
  EXPECT_EQ(S_OK, writer->EndContent());
  EXPECT_EQ(bytes.size(), writer->ContentSize(content));
  return content;
}

// Our own reader, for comparison with the system's view.
std::vector<uint8_t> ReadOurs(const CompoundFileReader& reader, EntryId storage, const wchar_t* name) {
  EntryId id = 0;
  EXPECT_EQ(S_OK, reader.FindChild(storage, name, &id)) << testing::PrintToString(std::wstring(name));
  std::vector<uint8_t> bytes;
  EXPECT_EQ(S_OK, reader.ReadStream(id, 1u << 30, &bytes));
  return bytes;
}

uint32_t HeaderField(const std::vector<uint8_t>& file, size_t offset) { return msgfile::cfb::Get32(&file[offset]); }

using WriterAgainstSystem = StorageTest;

}  // namespace

TEST_F(WriterAgainstSystem, StreamSizesAroundTheCutoffInBothVersions) {
  const size_t sizes[] = {0, 1, 63, 64, 65, 511, 512, 4095, 4096, 4097, 8192, 3 * 1024 * 1024 + 5};
  for (unsigned version : {3u, 4u}) {
    const std::wstring path = scratch_.File(version == 3 ? L"sizes3.cfb" : L"sizes4.cfb");
    std::map<std::wstring, std::vector<uint8_t>> expected;
    {
      CompoundFileWriter writer;
      ASSERT_EQ(S_OK, writer.Create(path.c_str(), version));
      uint32_t seed = 1;
      for (size_t size : sizes) {
        // The same size three ways: 4096-byte pieces, odd pieces, and whole.
        const std::wstring suffix = std::to_wstring(size);
        const auto a = PatternBytes(size, seed++);
        const auto b = PatternBytes(size, seed++);
        const auto c = PatternBytes(size, seed++);
        ASSERT_EQ(S_OK, writer.AddStream(kRootEntry, (L"piece4096_" + suffix).c_str(), Stream(&writer, a, 4096)));
        ASSERT_EQ(S_OK, writer.AddStream(kRootEntry, (L"piece1000_" + suffix).c_str(), Stream(&writer, b, 1000)));
        ASSERT_EQ(S_OK, writer.AddStream(kRootEntry, (L"whole_" + suffix).c_str(), c.data(), c.size()));
        expected[L"piece4096_" + suffix] = a;
        expected[L"piece1000_" + suffix] = b;
        expected[L"whole_" + suffix] = c;
      }
      ASSERT_EQ(S_OK, writer.Finish());
      EXPECT_FALSE(writer.IsOpen());
    }
    const uint64_t sectorSize = version == 3 ? 512 : 4096;
    EXPECT_EQ(0u, kvtest::ReadBytes(path).size() % sectorSize) << "the file ends on a sector boundary";

    SystemView view;
    ASSERT_EQ(S_OK, ReadWithSystem(path, &view)) << "version " << version;
    EXPECT_EQ(expected.size(), view.streams.size());
    for (const auto& entry : expected) {
      auto found = view.streams.find(entry.first);
      ASSERT_NE(view.streams.end(), found) << testing::PrintToString(entry.first) << ", version " << version;
      EXPECT_TRUE(found->second == entry.second)
          << testing::PrintToString(entry.first) << ": the system read " << found->second.size()
          << " bytes, expected " << entry.second.size() << " (version " << version << ")";
    }

    CompoundFileReader reader;
    ASSERT_EQ(S_OK, reader.Open(path.c_str()));
    EXPECT_EQ(version, reader.MajorVersion());
    for (const auto& entry : expected) {
      EXPECT_TRUE(ReadOurs(reader, kRootEntry, entry.first.c_str()) == entry.second)
          << testing::PrintToString(entry.first);
    }
  }
}

TEST_F(WriterAgainstSystem, ManySiblingsAreFoundByNameAndTheTreeStaysOrdered) {
  // Names of mixed length and case, added in an order unlike the sorted one.
  std::vector<std::wstring> names;
  for (int i = 299; i >= 0; --i) {
    std::wstring name = (i % 3 == 0 ? L"Item" : i % 3 == 1 ? L"it" : L"__substg1.0_") + std::to_wstring(i * 7919 % 1000);
    if (i % 5 == 0) name += L"_x";
    names.push_back(name);
  }
  const std::wstring path = scratch_.File(L"siblings.cfb");
  std::map<std::wstring, std::vector<uint8_t>> expected;
  {
    CompoundFileWriter writer;
    ASSERT_EQ(S_OK, writer.Create(path.c_str()));
    EntryId storage = 0;
    ASSERT_EQ(S_OK, writer.AddStorage(kRootEntry, L"Storage", &storage));
    for (size_t i = 0; i < names.size(); ++i) {
      const auto bytes = PatternBytes(i * 13, static_cast<uint32_t>(i));
      const EntryId parent = i % 2 ? storage : kRootEntry;
      ASSERT_EQ(S_OK, writer.AddStream(parent, names[i].c_str(), bytes.data(), bytes.size()));
      expected[(i % 2 ? L"Storage/" : L"") + names[i]] = bytes;
    }
    // Names collide regardless of case, but only among siblings; bad names are refused.
    ASSERT_EQ(S_OK, writer.AddStream(storage, L"STORAGE", nullptr, 0));
    EntryId clash = 0;
    EXPECT_EQ(STG_E_FILEALREADYEXISTS, writer.AddStorage(kRootEntry, L"sToRaGe", &clash));
    std::wstring upper = names[0];
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    ASSERT_NE(upper, names[0]);
    EXPECT_EQ(STG_E_FILEALREADYEXISTS, writer.AddStream(kRootEntry, upper.c_str(), nullptr, 0));
    EXPECT_EQ(STG_E_INVALIDNAME, writer.AddStream(kRootEntry, L"a/b", nullptr, 0));
    EXPECT_EQ(STG_E_INVALIDNAME, writer.AddStream(kRootEntry, std::wstring(32, L'n').c_str(), nullptr, 0));
    EXPECT_EQ(E_INVALIDARG, writer.AddStream(9999, L"orphan", nullptr, 0));
    ASSERT_EQ(S_OK, writer.Finish());
  }
  expected[L"Storage/STORAGE"] = {};
  SystemView view;
  ASSERT_EQ(S_OK, ReadWithSystem(path, &view));
  EXPECT_EQ(expected.size(), view.streams.size());
  for (const auto& entry : expected) {
    auto found = view.streams.find(entry.first);
    ASSERT_NE(view.streams.end(), found) << testing::PrintToString(entry.first);
    EXPECT_EQ(entry.second, found->second) << testing::PrintToString(entry.first);
  }
  CompoundFileReader reader;
  ASSERT_EQ(S_OK, reader.Open(path.c_str()));
  std::vector<EntryId> children;
  ASSERT_EQ(S_OK, reader.ListChildren(kRootEntry, &children));
  for (size_t i = 1; i < children.size(); ++i) {
    msgfile::EntryInfo a, b;
    reader.GetEntry(children[i - 1], &a);
    reader.GetEntry(children[i], &b);
    EXPECT_LT(msgfile::cfb::CompareNames(a.name, b.name), 0) << "sibling order at " << i;
  }
}

TEST_F(WriterAgainstSystem, ClassIdsOfRootAndStorages) {
  const CLSID rootId = {0x00020D0B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  const CLSID childId = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  const std::wstring path = scratch_.File(L"clsid.cfb");
  {
    CompoundFileWriter writer;
    ASSERT_EQ(S_OK, writer.Create(path.c_str()));
    EntryId storage = 0;
    ASSERT_EQ(S_OK, writer.AddStorage(kRootEntry, L"child", &storage));
    ASSERT_EQ(S_OK, writer.SetClassId(kRootEntry, rootId));
    ASSERT_EQ(S_OK, writer.SetClassId(storage, childId));
    EntryId empty = 0;
    ASSERT_EQ(S_OK, writer.AddStorage(storage, L"empty", &empty));
    ASSERT_EQ(S_OK, writer.Finish());
  }
  SystemView view;
  ASSERT_EQ(S_OK, ReadWithSystem(path, &view));
  EXPECT_TRUE(IsEqualCLSID(rootId, view.storages[L""]));
  EXPECT_TRUE(IsEqualCLSID(childId, view.storages[L"child"]));
  EXPECT_EQ(1u, view.storages.count(L"child/empty"));
  EXPECT_TRUE(view.streams.empty());
}

TEST_F(WriterAgainstSystem, LargeFileNeedsDifatSectors) {
  // 20 MiB in 512-byte sectors needs about 320 FAT sectors: 109 listed in
  // the header, the rest in two DIFAT sectors.
  const auto big = PatternBytes(20u << 20, 77);
  const auto small = PatternBytes(3000, 78);
  const std::wstring path = scratch_.File(L"difat.cfb");
  {
    CompoundFileWriter writer;
    ASSERT_EQ(S_OK, writer.Create(path.c_str(), 3));
    ASSERT_EQ(S_OK, writer.AddStream(kRootEntry, L"big", Stream(&writer, big, 4096)));
    ASSERT_EQ(S_OK, writer.AddStream(kRootEntry, L"small", small.data(), small.size()));
    ASSERT_EQ(S_OK, writer.Finish());
  }
  const std::vector<uint8_t> file = kvtest::ReadBytes(path);
  ASSERT_GE(file.size(), 512u);
  EXPECT_GT(HeaderField(file, 0x2C), 218u) << "FAT sectors";
  EXPECT_EQ(2u, HeaderField(file, 0x48)) << "DIFAT sectors";
  EXPECT_NE(0xFFFFFFFEu, HeaderField(file, 0x44)) << "first DIFAT sector";
  EXPECT_LT(file.size(), big.size() + big.size() / 100) << "tables cost under 1% of the data";

  SystemView view;
  ASSERT_EQ(S_OK, ReadWithSystem(path, &view));
  EXPECT_TRUE(view.streams[L"big"] == big) << "the system read " << view.streams[L"big"].size() << " bytes";
  EXPECT_EQ(small, view.streams[L"small"]);

  CompoundFileReader reader;
  ASSERT_EQ(S_OK, reader.Open(path.c_str()));
  EXPECT_TRUE(ReadOurs(reader, kRootEntry, L"big") == big);
}

TEST_F(WriterAgainstSystem, DiscardedAndUnlinkedContentLeaveOnlyFreeSpace) {
  const auto dropped = PatternBytes(50000, 1);
  const auto neverLinked = PatternBytes(9000, 2);
  const auto kept = PatternBytes(7000, 3);
  const auto tiny = PatternBytes(100, 4);
  const std::wstring path = scratch_.File(L"discard.cfb");
  {
    CompoundFileWriter writer;
    ASSERT_EQ(S_OK, writer.Create(path.c_str()));
    ContentId content = 0;
    ASSERT_EQ(S_OK, writer.BeginContent(&content));
    ASSERT_EQ(S_OK, writer.WriteContent(dropped.data(), dropped.size()));
    ASSERT_EQ(S_OK, writer.DiscardContent(content));  // while still open
    ASSERT_EQ(E_UNEXPECTED, writer.WriteContent(kept.data(), 10)) << "no content is open any more";
    Stream(&writer, neverLinked, 4096);
    const ContentId keptContent = Stream(&writer, kept, 333);
    const ContentId tinyDropped = Stream(&writer, tiny, 7);
    ASSERT_EQ(S_OK, writer.DiscardContent(tinyDropped));
    ASSERT_EQ(E_UNEXPECTED, writer.AddStream(kRootEntry, L"gone", tinyDropped));
    ASSERT_EQ(S_OK, writer.AddStream(kRootEntry, L"kept", keptContent));
    ASSERT_EQ(E_UNEXPECTED, writer.AddStream(kRootEntry, L"again", keptContent)) << "content is linked once";
    ASSERT_EQ(E_UNEXPECTED, writer.DiscardContent(keptContent)) << "linked content stays";
    ASSERT_EQ(S_OK, writer.Finish());
  }
  SystemView view;
  ASSERT_EQ(S_OK, ReadWithSystem(path, &view));
  ASSERT_EQ(1u, view.streams.size());
  EXPECT_EQ(kept, view.streams[L"kept"]);
}

TEST_F(WriterAgainstSystem, CallsOutOfOrderAreRefused) {
  const std::wstring path = scratch_.File(L"order.cfb");
  kvtest::WriteBytes(scratch_.File(L"existing.cfb"), {1, 2, 3});
  CompoundFileWriter writer;
  EXPECT_EQ(E_UNEXPECTED, writer.Finish()) << "before Create";
  EXPECT_EQ(E_INVALIDARG, writer.Create(path.c_str(), 5));
  EXPECT_EQ(STG_E_FILEALREADYEXISTS, writer.Create(scratch_.File(L"existing.cfb").c_str()));
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), kvtest::ReadBytes(scratch_.File(L"existing.cfb"))) << "left untouched";
  ASSERT_EQ(S_OK, writer.Create(path.c_str()));
  EXPECT_EQ(E_UNEXPECTED, writer.Create(path.c_str()));
  EXPECT_EQ(E_UNEXPECTED, writer.WriteContent("x", 1));
  EXPECT_EQ(E_UNEXPECTED, writer.EndContent());
  ContentId first = 0, second = 0;
  ASSERT_EQ(S_OK, writer.BeginContent(&first));
  EXPECT_EQ(E_UNEXPECTED, writer.BeginContent(&second)) << "one content at a time";
  EXPECT_EQ(E_UNEXPECTED, writer.AddStream(kRootEntry, L"open", first)) << "open content cannot be linked";
  EXPECT_EQ(E_UNEXPECTED, writer.Finish()) << "open content must be ended first";
  ASSERT_EQ(S_OK, writer.WriteContent("abc", 3));
  ASSERT_EQ(S_OK, writer.EndContent());
  ASSERT_EQ(S_OK, writer.AddStream(kRootEntry, L"s", first));
  ASSERT_EQ(S_OK, writer.Finish()) << "a refused Finish can be retried";
  EXPECT_EQ(E_UNEXPECTED, writer.AddStream(kRootEntry, L"late", nullptr, 0));
  SystemView view;
  ASSERT_EQ(S_OK, ReadWithSystem(path, &view));
  EXPECT_EQ((std::vector<uint8_t>{'a', 'b', 'c'}), view.streams[L"s"]);
}

// Finish can move the file into a directory still to be made, and never over
// another file: then the composition goes and the other file stays.
TEST_F(WriterAgainstSystem, FinishMovesTheFileButNeverOverAnother) {
  const std::wstring composed = scratch_.File(L"a.tmp");
  const std::wstring placed = scratch_.File(L"new\\deeper\\a.cfb");
  const std::wstring existing = scratch_.File(L"existing.cfb");
  kvtest::WriteBytes(existing, {1, 2, 3});
  for (const std::wstring& target : {placed, existing}) {
    CompoundFileWriter writer;
    ASSERT_EQ(S_OK, writer.Create(composed.c_str()));
    ASSERT_EQ(S_OK, writer.AddStream(kRootEntry, L"s", "abc", 3));
    const HRESULT hr = writer.Finish(nullptr, target.c_str());
    EXPECT_EQ(target == placed, SUCCEEDED(hr)) << std::hex << hr;
    if (FAILED(hr)) writer.Abandon();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(composed.c_str())) << "the composition is gone";
  }
  SystemView view;
  ASSERT_EQ(S_OK, ReadWithSystem(placed, &view));
  EXPECT_EQ((std::vector<uint8_t>{'a', 'b', 'c'}), view.streams[L"s"]);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), kvtest::ReadBytes(existing)) << "left untouched";
}
