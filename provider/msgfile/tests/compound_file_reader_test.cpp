// Our reader on files the system's structured storage wrote, and on files
// damaged on purpose: exact bytes, or a clean error, never a hang or a crash.
#include <windows.h>

#include <mapicode.h>

#include <gtest/gtest.h>

#include <msgfile/compound_file_reader.h>
#include <msgfile/compound_file_writer.h>

#include "compound_file_layout.h"
#include "test_support.h"

using msgfile::CompoundFileReader;
using msgfile::CompoundFileWriter;
using msgfile::EntryId;
using msgfile::EntryInfo;
using msgfile::EntryType;
using msgfile::kRootEntry;
using msgfile::StreamReader;
using namespace msgfile_test;

namespace {

// Every stream under storage, by path, read piecewise in pieces of the given size.
void ReadTree(const CompoundFileReader& reader, EntryId storage, const std::wstring& prefix, size_t piece,
              std::map<std::wstring, std::vector<uint8_t>>* streams) {
  std::vector<EntryId> children;
  ASSERT_EQ(S_OK, reader.ListChildren(storage, &children));
  for (EntryId child : children) {
    EntryInfo info;
    ASSERT_EQ(S_OK, reader.GetEntry(child, &info));
    const std::wstring path = prefix.empty() ? info.name : prefix + L"/" + info.name;
    if (info.type == EntryType::Storage) {
      ReadTree(reader, child, path, piece, streams);
      continue;
    }
    StreamReader stream;
    ASSERT_EQ(S_OK, reader.OpenStream(child, &stream));
    ASSERT_EQ(info.size, stream.Size());
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> buffer(piece);
    for (;;) {
      size_t read = 0xdeadbeef;
      ASSERT_EQ(S_OK, stream.Read(buffer.data(), buffer.size(), &read));
      if (read == 0) break;
      bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(read));
    }
    (*streams)[path] = std::move(bytes);
  }
}

using ReaderOfSystemFiles = StorageTest;

}  // namespace

TEST_F(ReaderOfSystemFiles, ReadsEveryStreamWhateverTheChainsLookLike) {
  std::map<std::wstring, std::vector<uint8_t>> written;
  uint32_t seed = 10;
  for (size_t size : {size_t{0}, size_t{100}, size_t{4095}, size_t{4096}, size_t{70000}, size_t{(1u << 20) + 3}}) {
    written[L"root_" + std::to_wstring(size)] = PatternBytes(size, seed++);
    written[L"sub/in_" + std::to_wstring(size)] = PatternBytes(size, seed++);
  }
  // 512-byte writes in turn across all streams: every chain is fragmented.
  const std::wstring path = scratch_.File(L"system.cfb");
  ASSERT_EQ(S_OK, WriteWithSystem(path, written, 512));

  CompoundFileReader reader;
  ASSERT_EQ(S_OK, reader.Open(path.c_str()));
  for (size_t piece : {size_t{777}, size_t{4096}, size_t{1} << 21}) {
    std::map<std::wstring, std::vector<uint8_t>> read;
    ReadTree(reader, kRootEntry, L"", piece, &read);
    ASSERT_EQ(written.size(), read.size()) << "pieces of " << piece;
    for (const auto& entry : written) {
      EXPECT_TRUE(read[entry.first] == entry.second)
          << testing::PrintToString(entry.first) << " in pieces of " << piece << ": got " << read[entry.first].size()
          << " bytes, expected " << entry.second.size();
    }
  }
}

TEST_F(ReaderOfSystemFiles, SeeksAnywhereInAFragmentedStream) {
  const auto big = PatternBytes(300000, 42);
  const auto other = PatternBytes(300000, 43);
  const std::wstring path = scratch_.File(L"seek.cfb");
  ASSERT_EQ(S_OK, WriteWithSystem(path, {{L"big", big}, {L"other", other}}, 1536));
  CompoundFileReader reader;
  ASSERT_EQ(S_OK, reader.Open(path.c_str()));
  EntryId id = 0;
  ASSERT_EQ(S_OK, reader.FindChild(kRootEntry, L"BIG", &id)) << "names are found regardless of case";
  StreamReader stream;
  ASSERT_EQ(S_OK, reader.OpenStream(id, &stream));
  // Forward, backward, across sector and fragment edges, up to the end.
  const struct {
    uint64_t at;
    size_t length;
  } reads[] = {{299000, 5000}, {0, 10}, {511, 2}, {1535, 1538}, {150000, 1}, {100, 299900}, {300000, 10}};
  for (const auto& r : reads) {
    ASSERT_EQ(S_OK, stream.Seek(r.at));
    std::vector<uint8_t> bytes(r.length);
    size_t read = 0;
    ASSERT_EQ(S_OK, stream.Read(bytes.data(), bytes.size(), &read));
    const size_t expected = static_cast<size_t>(std::min<uint64_t>(r.length, big.size() - r.at));
    ASSERT_EQ(expected, read) << "at " << r.at;
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(read),
                           big.begin() + static_cast<ptrdiff_t>(r.at)))
        << "at " << r.at;
    EXPECT_EQ(r.at + read, stream.Position());
  }
  EXPECT_EQ(E_INVALIDARG, stream.Seek(300001));
  EntryId missing = 0;
  EXPECT_EQ(MAPI_E_NOT_FOUND, reader.FindChild(kRootEntry, L"absent", &missing));
  EXPECT_EQ(E_INVALIDARG, reader.OpenStream(kRootEntry, &stream)) << "the root is not a stream";
}

namespace {

// A small file of ours, and where its parts lie, for damaging on purpose.
struct Sample {
  std::vector<uint8_t> bytes;
  msgfile::cfb::Header header;
  uint64_t Offset(uint32_t sector) const { return header.geometry.Offset(sector); }
};

Sample MakeSample(const std::wstring& path) {
  Sample sample;
  {
    CompoundFileWriter writer;
    EXPECT_EQ(S_OK, writer.Create(path.c_str()));
    const auto big = PatternBytes(20000, 1);
    const auto small = PatternBytes(300, 2);
    EntryId storage = 0;
    EXPECT_EQ(S_OK, writer.AddStorage(kRootEntry, L"a", &storage));
    EXPECT_EQ(S_OK, writer.AddStream(kRootEntry, L"big", big.data(), big.size()));
    EXPECT_EQ(S_OK, writer.AddStream(storage, L"small", small.data(), small.size()));
    EXPECT_EQ(S_OK, writer.AddStream(storage, L"small2", small.data(), small.size()));
    EXPECT_EQ(S_OK, writer.Finish());
  }
  sample.bytes = kvtest::ReadBytes(path);
  EXPECT_EQ(S_OK, msgfile::cfb::DecodeHeader(sample.bytes.data(), &sample.header));
  return sample;
}

// Opens the file and reads every stream; the first failure is the result.
HRESULT OpenAndReadAll(const std::wstring& path) {
  CompoundFileReader reader;
  HRESULT hr = reader.Open(path.c_str());
  if (FAILED(hr)) return hr;
  std::vector<EntryId> pending{kRootEntry};
  while (!pending.empty()) {
    const EntryId storage = pending.back();
    pending.pop_back();
    std::vector<EntryId> children;
    hr = reader.ListChildren(storage, &children);
    if (FAILED(hr)) return hr;
    for (EntryId child : children) {
      EntryInfo info;
      hr = reader.GetEntry(child, &info);
      if (FAILED(hr)) return hr;
      if (info.type == EntryType::Storage) {
        pending.push_back(child);
        continue;
      }
      std::vector<uint8_t> bytes;
      hr = reader.ReadStream(child, 1u << 20, &bytes);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

}  // namespace

TEST(ReaderOfDamagedFiles, ReportsCorruptionInsteadOfLoopingOrReadingPastTheEnd) {
  kvtest::TempDirectory scratch;
  const std::wstring original = scratch.File(L"good.cfb");
  const Sample sample = MakeSample(original);
  ASSERT_EQ(S_OK, OpenAndReadAll(original));
  const uint32_t fatSector = sample.header.difat[0];
  const uint32_t directory = sample.header.firstDirectorySector;
  // The stream "big" starts at sector 0 (the first data written); entry 0 of the FAT is its link.
  struct Case {
    const char* what;
    uint64_t offset;
    std::vector<uint8_t> bytes;  // written at offset; empty means: cut the file at offset
    HRESULT expected;
  };
  const Case cases[] = {
      {"file cut inside the header", 100, {}, STG_E_INVALIDHEADER},
      {"not a compound file", 0, {'P', 'K', 3, 4}, STG_E_INVALIDHEADER},
      {"chain loops back on itself", sample.Offset(fatSector), {0, 0, 0, 0}, STG_E_DOCFILECORRUPT},
      {"chain runs off the end", sample.Offset(fatSector) + 8, {0x00, 0x00, 0x10, 0x00}, STG_E_DOCFILECORRUPT},
      {"chain ends too early", sample.Offset(fatSector) + 4, {0xFE, 0xFF, 0xFF, 0xFF}, STG_E_DOCFILECORRUPT},
      {"more FAT sectors than the file has", 0x2C, {0xFF, 0xFF, 0, 0}, STG_E_DOCFILECORRUPT},
      {"root's child points at the root", sample.Offset(directory) + 0x4C, {0, 0, 0, 0}, STG_E_DOCFILECORRUPT},
      {"sibling beyond the directory", sample.Offset(directory) + 128 + 0x44, {0x00, 0x10, 0, 0},
       STG_E_DOCFILECORRUPT},
      {"unknown entry type", sample.Offset(directory) + 128 + 0x42, {7}, STG_E_DOCFILECORRUPT},
      {"name length beyond 64 bytes", sample.Offset(directory) + 128 + 0x40, {66, 0}, STG_E_DOCFILECORRUPT},
      {"file cut inside the data", sample.Offset(3), {}, STG_E_DOCFILECORRUPT},
  };
  int index = 0;
  for (const Case& c : cases) {
    std::vector<uint8_t> damaged = sample.bytes;
    if (c.bytes.empty()) {
      damaged.resize(static_cast<size_t>(c.offset));
    } else {
      std::copy(c.bytes.begin(), c.bytes.end(), damaged.begin() + static_cast<ptrdiff_t>(c.offset));
    }
    const std::wstring path = scratch.File((L"damaged" + std::to_wstring(index++) + L".cfb").c_str());
    kvtest::WriteBytes(path, damaged);
    EXPECT_EQ(c.expected, OpenAndReadAll(path)) << c.what;
  }
  CompoundFileReader reader;
  EXPECT_EQ(STG_E_FILENOTFOUND, reader.Open(scratch.File(L"absent.cfb").c_str()));
}
