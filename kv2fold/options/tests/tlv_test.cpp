// Sized buffers, tagged values in memory and in files, and the report texts
// read from an exported file.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "options/report_strings.h"
#include "options/sized_buffer.h"
#include "options/tlv.h"
#include "platform/tests/test_support.h"
#include "platform/wide_text.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Record(uint16_t tag, uint16_t length, const Bytes& value = {}) {
  Bytes bytes(4 + value.size());
  bytes[0] = static_cast<unsigned char>(tag);
  bytes[1] = static_cast<unsigned char>(tag >> 8);
  bytes[2] = static_cast<unsigned char>(length);
  bytes[3] = static_cast<unsigned char>(length >> 8);
  for (size_t i = 0; i < value.size(); ++i) bytes[4 + i] = value[i];
  return bytes;
}
Bytes Text(const char* text) { return Bytes(text, text + strlen(text)); }
Bytes Utf16(const wchar_t* text, size_t units) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  return Bytes(bytes, bytes + 2 * units);
}
Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::wstring WriteBytes(const kvtest::TempDirectory& directory, const Bytes& bytes) {
  return directory.Write(L"records.tlv", bytes);
}

// A descriptor released at the end of the test.
struct Descriptor {
  ~Descriptor() { TLVDestroy(get); }
  TLVDescriptor* get = nullptr;
};

// A reader on a buffer holding exactly these bytes.
struct MemoryReader {
  explicit MemoryReader(const Bytes& bytes) {
    SizedBufferAlloc(buffer.variable(), static_cast<uint32_t>(bytes.size()));
    if (!bytes.empty()) memcpy(buffer.get(), bytes.data(), bytes.size());
    TLVOpenMemory(buffer.variable(), OF_READ, &reader.get);
  }
  ScopedSizedBuffer buffer;
  Descriptor reader;
};

// Every record's tag and value, and the code that ended the reading.
struct Contents {
  std::vector<uint16_t> tags;
  std::vector<Bytes> values;
  FileResult end = FR_OK;
};
Contents ReadEverything(TLVDescriptor* descriptor) {
  Contents all;
  for (;;) {
    ScopedSizedBuffer value;
    uint16_t tag = 0;
    uint16_t length = 0;
    all.end = TLVRead(descriptor, &tag, &length, value.variable());
    if (all.end != FR_OK) return all;
    all.tags.push_back(tag);
    all.values.push_back(length ? Bytes(value.get(), value.get() + length) : Bytes());
  }
}

uint32_t FilePosition(TLVDescriptor* file) {
  uint32_t position = 0xDEADBEEF;
  static_cast<TLVFile*>(file)->Seek(FILE_CURRENT, 0, &position);
  return position;
}

}  // namespace

TEST(SizedBuffer, LengthInFrontOfZeroedDataAndZeroedGrowth) {
  for (uint32_t length : {0u, 7u, 256u}) {
    SizedBuffer buffer = nullptr;
    ASSERT_TRUE(SizedBufferAlloc(&buffer, length));
    EXPECT_EQ(length, SizedBufferLength(buffer));
    EXPECT_EQ((length + 5) & ~1u, HeapSize(GetProcessHeap(), 0, buffer - 4)) << "n + 4 bytes, rounded up to even";
    EXPECT_EQ(Bytes(length, 0), Bytes(buffer, buffer + length));
    SizedBufferFree(&buffer);
    EXPECT_EQ(nullptr, buffer);
  }
  ScopedSizedBuffer buffer;
  ASSERT_TRUE(SizedBufferAlloc(buffer.variable(), 100));
  memset(buffer.get(), 0xAA, 100);
  ASSERT_TRUE(SizedBufferResize(buffer.variable(), 10));
  ASSERT_TRUE(SizedBufferResize(buffer.variable(), 100));
  EXPECT_EQ(100u, SizedBufferLength(buffer.get()));
  EXPECT_EQ(Join({Bytes(10, 0xAA), Bytes(90, 0)}), Bytes(buffer.get(), buffer.get() + 100))
      << "bytes regained after a shrink are zero";
}

TEST(TLVMemory, WriterGrowsOnceAndIsTrimmedToItsRecords) {
  const long heapBlocks = kvtest::CountModuleHeapBlocks();
  {
    ScopedSizedBuffer buffer;
    Descriptor writer;
    ASSERT_EQ(FR_OK, TLVCreateMemory(buffer.variable(), &writer.get));
    EXPECT_EQ(256u, SizedBufferLength(buffer.get()));
    const Bytes values[] = {Bytes(100, 1), Bytes(100, 2), Bytes(88, 3)};  // 300 bytes of records
    for (uint16_t i = 0; i < 3; ++i) {
      ASSERT_EQ(FR_OK, TLVWrite(writer.get, 0x1001 + i, static_cast<uint16_t>(values[i].size()), values[i].data()));
    }
    EXPECT_EQ(208u + 88 + 260, SizedBufferLength(buffer.get())) << "grown once, leaving 256 bytes of room";
    EXPECT_EQ(FR_NO_MEMORY, TLVWriteBuffer(writer.get, 9, 3, nullptr));
    EXPECT_EQ(FR_OK, TLVDestroy(writer.get));
    writer.get = nullptr;
    EXPECT_EQ(300u, SizedBufferLength(buffer.get()));

    Descriptor reader;
    ASSERT_EQ(FR_OK, TLVOpenMemory(buffer.variable(), OF_READ, &reader.get));
    Contents all = ReadEverything(reader.get);
    EXPECT_EQ((std::vector<uint16_t>{0x1001, 0x1002, 0x1003}), all.tags);
    EXPECT_EQ((std::vector<Bytes>{values[0], values[1], values[2]}), all.values);
    EXPECT_EQ(FR_END_OF_DATA, all.end);
  }
  EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks());
}

TEST(TLVMemory, MalformedDataAndTheEndAreToldApart) {
  const struct {
    const char* what;
    Bytes bytes;
    size_t records;
    FileResult end;
  } cases[] = {
      {"empty buffer", {}, 0, FR_END_OF_DATA},
      {"records, then the end", Join({Record(5, 1, Text("a")), Record(6, 0)}), 2, FR_END_OF_DATA},
      {"largest value", Join({Record(5, kTLVLargestLength), Bytes(kTLVLargestLength, 1)}), 1, FR_END_OF_DATA},
      {"tag 0", Record(0, 1, Text("x")), 0, FR_BAD_FORMAT},
      {"length 0xFFF1", Join({Record(5, 0xFFF1), Bytes(0xFFF1, 0)}), 0, FR_BAD_FORMAT},
      {"value past the buffer", Record(5, 5, Text("ab")), 0, FR_BAD_FORMAT},
      {"a stray byte", Join({Record(5, 1, Text("a")), Bytes{1}}), 1, FR_BAD_FORMAT},
      {"three stray bytes", Join({Record(5, 1, Text("a")), Bytes{1, 0, 9}}), 1, FR_BAD_FORMAT},
  };
  for (const auto& c : cases) {
    MemoryReader memory(c.bytes);
    Contents all = ReadEverything(memory.reader.get);
    EXPECT_EQ(c.records, all.tags.size()) << c.what;
    EXPECT_EQ(c.end, all.end) << c.what;
    uint16_t tag = 0xBEEF;
    EXPECT_EQ(c.end, TLVPeek(memory.reader.get, &tag, nullptr)) << c.what;
    EXPECT_EQ(0xBEEF, tag) << c.what;
    EXPECT_EQ(c.end, TLVSkip(memory.reader.get)) << c.what;
    EXPECT_EQ(c.end, TLVFind(memory.reader.get, 5)) << c.what;
  }
}

TEST(TLVMemory, EmptyValuesInPlaceValuesAndFind) {
  MemoryReader memory(Join({Record(2, 0), Record(1, 3, Text("abc")), Record(2, 1, Text("d")), Record(3, 0)}));
  unsigned char marker = 0;
  SizedBuffer value = &marker;
  uint16_t tag = 0;
  uint16_t length = 0xBEEF;
  EXPECT_EQ(FR_OK, TLVRead(memory.reader.get, &tag, &length, &value));
  EXPECT_EQ(0, length);
  EXPECT_EQ(&marker, value) << "an empty value leaves the handle alone";
  const void* inPlace = nullptr;
  ASSERT_EQ(FR_OK, TLVReadInPlace(memory.reader.get, &tag, &length, &inPlace));
  EXPECT_EQ(memory.buffer.get() + 8, inPlace);
  EXPECT_EQ(FR_OK, TLVFind(memory.reader.get, 2));
  EXPECT_EQ(FR_OK, TLVFind(memory.reader.get, 2)) << "the current record matches: no move";
  ASSERT_EQ(FR_OK, TLVReadInPlace(memory.reader.get, &tag, &length, &inPlace));
  EXPECT_EQ(0, memcmp(inPlace, "d", 1));
  EXPECT_EQ(FR_END_OF_DATA, TLVFind(memory.reader.get, 1)) << "the search never starts over";
}

TEST(TLVMemory, StoreEndsAtTheLastByteThatA16BitPositionReaches) {
  ScopedSizedBuffer records;
  {
    Descriptor writer;
    ASSERT_EQ(FR_OK, TLVCreateMemory(records.variable(), &writer.get));
    const Bytes large(kTLVLargestLength, 0x42);
    ASSERT_EQ(FR_OK, TLVWrite(writer.get, 1, kTLVLargestLength, large.data()));
    EXPECT_EQ(0xFFFFu, SizedBufferLength(records.get())) << "growth stops at 65,535 bytes";
    ASSERT_EQ(FR_OK, TLVWrite(writer.get, 2, 7, "1234567"));  // ends at byte 65,535
    EXPECT_EQ(FR_NO_MEMORY, TLVWrite(writer.get, 3, 0, nullptr)) << "no room for one more header";
  }
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenMemory(records.variable(), OF_READ, &reader.get));
  Contents all = ReadEverything(reader.get);
  EXPECT_EQ((std::vector<uint16_t>{1, 2}), all.tags);
  EXPECT_EQ(FR_END_OF_DATA, all.end);
}

TEST(TLVFile, WrittenRecordsReadBackAndOpenErrorsPassOn) {
  kvtest::TempDirectory directory;
  const std::wstring path = directory.File(L"new.tlv");
  Descriptor writer;
  ASSERT_EQ(FR_OK, TLVCreateFile(path.c_str(), OF_WRITE, OF_SHARE_EXCLUSIVE, &writer.get));
  ASSERT_EQ(FR_OK, TLVWrite(writer.get, 0x1019, 4, "a\0\0\0"));
  ASSERT_EQ(FR_OK, TLVWrite(writer.get, 0x2000, 0, nullptr));
  ASSERT_EQ(FR_OK, TLVWrite(writer.get, 0x101A, 2, "z\0"));
  TLVDescriptor* other = reinterpret_cast<TLVDescriptor*>(0x1);
  EXPECT_EQ(FR_EXISTS, TLVCreateFile(path.c_str(), OF_WRITE, OF_SHARE_EXCLUSIVE, &other));
  EXPECT_EQ(nullptr, other);
  EXPECT_EQ(FR_OK, TLVDestroy(writer.get));
  writer.get = nullptr;
  EXPECT_EQ(FR_NOT_FOUND, TLVOpenFile(directory.File(L"none.tlv").c_str(), OF_READ, 0x20, &other));

  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenFile(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, &reader.get));
  uint16_t tag = 0;
  EXPECT_EQ(FR_OK, TLVPeek(reader.get, &tag, nullptr));
  EXPECT_EQ(0x1019, tag);
  EXPECT_EQ(0u, FilePosition(reader.get)) << "Peek does not move";
  EXPECT_EQ(FR_INVALID, TLVReadInPlace(reader.get, nullptr, nullptr, nullptr)) << "a file lends no pointers";
  EXPECT_EQ(FR_OK, TLVFind(reader.get, 0x101A));
  EXPECT_EQ(12u, FilePosition(reader.get)) << "at the matching record's header";
  static_cast<TLVFile*>(reader.get)->Seek(FILE_BEGIN, 0, nullptr);
  Contents all = ReadEverything(reader.get);
  EXPECT_EQ((std::vector<uint16_t>{0x1019, 0x2000, 0x101A}), all.tags);
  EXPECT_EQ(Bytes({'z', 0}), all.values[2]);
  EXPECT_EQ(FR_END_OF_DATA, all.end);
}

TEST(TLVFile, ReadRestoresThePositionOnEveryFailure) {
  const struct {
    const char* what;
    Bytes tail;
    FileResult expected;
  } cases[] = {
      {"nothing more", {}, FR_END_OF_DATA},
      {"one byte of a header", {7}, FR_END_OF_DATA},
      {"three bytes of a header", {7, 0, 1}, FR_END_OF_DATA},
      {"a value cut short", Join({Record(6, 5), Text("ab")}), FR_BAD_FORMAT},
      {"tag 0", Record(0, 1, Text("x")), FR_BAD_FORMAT},
      {"length 0xFFF1", Join({Record(6, 0xFFF1), Bytes(0xFFF1, 1)}), FR_BAD_FORMAT},
  };
  for (const auto& c : cases) {
    kvtest::TempDirectory directory;
    const std::wstring path = WriteBytes(directory, Join({Record(5, 2, Text("ok")), c.tail}));
    Descriptor reader;
    ASSERT_EQ(FR_OK, TLVOpenFile(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, &reader.get));
    for (FileResult expected : {FR_OK, c.expected, c.expected}) {
      ScopedSizedBuffer value;
      EXPECT_EQ(expected, TLVRead(reader.get, nullptr, nullptr, value.variable())) << c.what;
    }
    EXPECT_EQ(6u, FilePosition(reader.get)) << c.what << ": back at the start of the bad bytes";
  }
  kvtest::TempDirectory directory;  // Skip does not check that a value is there; Peek then sees the end
  const std::wstring cut = WriteBytes(directory, Join({Record(6, 10), Text("abc")}));
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenFile(cut.c_str(), OF_READ, OF_SHARE_DENY_WRITE, &reader.get));
  EXPECT_EQ(FR_OK, TLVSkip(reader.get));
  EXPECT_EQ(FR_END_OF_DATA, TLVPeek(reader.get, nullptr, nullptr));
  EXPECT_EQ(FR_END_OF_DATA, TLVFind(reader.get, 6));
}

TEST(ReportStrings, CommentAndBodyFromTaggedRecords) {
  wchar_t* const kUntouched = const_cast<wchar_t*>(L"untouched");
  const struct {
    const char* what;
    Bytes file;
    const wchar_t* comment;
    const wchar_t* body;
  } cases[] = {
      {"comment, then body", Join({Record(0x1019, 10, Utf16(L"Note", 5)), Record(0x101A, 8, Utf16(L"Sum", 4))}),
       L"Note", L"Sum"},
      {"body first: the later comment is not read",
       Join({Record(0x101A, 8, Utf16(L"Sum", 4)), Record(0x1019, 10, Utf16(L"Note", 5))}), kUntouched, L"Sum"},
      {"a later comment replaces an earlier one, an empty one gives none",
       Join(
           {Record(0x1019, 4, Utf16(L"A", 2)), Record(0x7777, 0), Record(0x1019, 0), Record(0x101A, 2, Utf16(L"", 1))}),
       nullptr, L""},
      {"values without a terminator still end",
       Join({Record(0x1019, 6, Utf16(L"abc", 3)), Record(0x101A, 3, Text("xyz"))}), L"abc", L"\u7978"},
      {"a malformed record ends the scan quietly",
       Join({Record(0x1019, 4, Utf16(L"C", 2)), Record(0, 0), Record(0x101A, 4, Utf16(L"D", 2))}), L"C", kUntouched},
      {"a file of other bytes yields nothing", Text("hello world, no records here"), kUntouched, kUntouched},
  };
  for (const auto& c : cases) {
    kvtest::TempDirectory directory;
    const std::wstring path = WriteBytes(directory, c.file);
    const long heapBlocks = kvtest::CountModuleHeapBlocks();
    wchar_t* texts[2] = {kUntouched, kUntouched};
    EXPECT_EQ(1, ReadReportStrings(path.c_str(), &texts[0], &texts[1])) << c.what;
    const wchar_t* expected[2] = {c.comment, c.body};
    for (int i = 0; i < 2; ++i) {
      if (expected[i] == kUntouched || expected[i] == nullptr) {
        EXPECT_EQ(expected[i], texts[i]) << c.what;
      } else {
        EXPECT_STREQ(expected[i], texts[i]) << c.what;
      }
      if (texts[i] != kUntouched) ModuleFree(texts[i]);
    }
    EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks()) << c.what << ": a replaced comment is released too";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << c.what << ": the file was closed again";
    CloseHandle(file);
  }
  kvtest::TempDirectory directory;
  wchar_t* texts[2] = {kUntouched, kUntouched};
  EXPECT_EQ(0, ReadReportStrings(directory.File(L"none.rpt").c_str(), &texts[0], &texts[1]));
  EXPECT_EQ(kUntouched, texts[0]);
  EXPECT_EQ(kUntouched, texts[1]);
}
