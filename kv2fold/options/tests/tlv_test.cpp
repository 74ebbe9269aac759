// Tagged values in memory and in files, sized buffers, and the report texts
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
  Bytes bytes = {static_cast<unsigned char>(tag & 0xFF), static_cast<unsigned char>(tag >> 8),
                 static_cast<unsigned char>(length & 0xFF), static_cast<unsigned char>(length >> 8)};
  bytes.insert(bytes.end(), value.begin(), value.end());
  return bytes;
}

Bytes Text(const char* text) { return Bytes(text, text + strlen(text)); }

// UTF-16LE bytes of a text, with its terminating NUL unless told otherwise.
Bytes Utf16(const wchar_t* text, bool terminated = true) {
  Bytes bytes;
  for (size_t i = 0; i < wcslen(text) + (terminated ? 1 : 0); ++i) {
    bytes.push_back(static_cast<unsigned char>(text[i] & 0xFF));
    bytes.push_back(static_cast<unsigned char>(text[i] >> 8));
  }
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A SizedBuffer holding exactly these bytes.
void Fill(ScopedSizedBuffer& buffer, const Bytes& bytes) {
  ASSERT_TRUE(SizedBufferAlloc(buffer.variable(), static_cast<uint32_t>(bytes.size())));
  if (!bytes.empty()) memcpy(buffer.get(), bytes.data(), bytes.size());
}

std::wstring WriteBytes(const kvtest::TempDirectory& directory, const wchar_t* name, const Bytes& bytes) {
  std::wstring path = directory.File(name);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return path;
}

uint32_t FilePosition(TLVDescriptor* descriptor) {
  uint32_t position = 0xDEADBEEF;
  static_cast<TLVFile*>(descriptor)->Seek(FILE_CURRENT, 0, &position);
  return position;
}

// Owns a descriptor for one test.
class Descriptor {
 public:
  Descriptor() = default;
  ~Descriptor() { TLVDestroy(descriptor_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  TLVDescriptor** put() { return &descriptor_; }
  TLVDescriptor* get() const { return descriptor_; }
  FileResult Destroy() {
    FileResult result = TLVDestroy(descriptor_);
    descriptor_ = nullptr;
    return result;
  }

 private:
  TLVDescriptor* descriptor_ = nullptr;
};

// Reads every record of a store: its tags and values, and the code that ended it.
struct ReadAll {
  std::vector<uint16_t> tags;
  std::vector<Bytes> values;
  FileResult end = FR_OK;
};
ReadAll ReadEveryRecord(TLVDescriptor* descriptor) {
  ReadAll all;
  for (;;) {
    ScopedSizedBuffer value;
    uint16_t tag = 0;
    uint16_t length = 0;
    all.end = TLVRead(descriptor, &tag, &length, value.variable());
    if (all.end != FR_OK) return all;
    all.tags.push_back(tag);
    all.values.push_back(value.get() ? Bytes(value.get(), value.get() + length) : Bytes());
  }
}

}  // namespace

// ---- SizedBuffer ----

TEST(SizedBuffer, AllocStoresTheLengthInFrontOfZeroedData) {
  for (uint32_t length : {0u, 1u, 7u, 256u}) {
    SizedBuffer buffer = nullptr;
    ASSERT_TRUE(SizedBufferAlloc(&buffer, length));
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(length, SizedBufferLength(buffer));
    uint32_t stored = 0;
    memcpy(&stored, buffer - 4, 4);
    EXPECT_EQ(length, stored) << "the length lies in the four bytes before the data";
    EXPECT_EQ((length + 4 + 1) & ~1u, HeapSize(GetProcessHeap(), 0, buffer - 4)) << "block rounded up to even";
    for (uint32_t i = 0; i < length; ++i) ASSERT_EQ(0, buffer[i]) << "byte " << i;
    SizedBufferFree(&buffer);
    EXPECT_EQ(nullptr, buffer);
  }
  SizedBufferFree(nullptr);
  EXPECT_EQ(0u, SizedBufferLength(nullptr));
}

TEST(SizedBuffer, GrowingAfterShrinkingZeroesTheRegainedBytes) {
  ScopedSizedBuffer buffer;
  ASSERT_TRUE(SizedBufferAlloc(buffer.variable(), 100));
  memset(buffer.get(), 0xAA, 100);
  ASSERT_TRUE(SizedBufferResize(buffer.variable(), 10));
  EXPECT_EQ(10u, SizedBufferLength(buffer.get()));
  ASSERT_TRUE(SizedBufferResize(buffer.variable(), 100));
  EXPECT_EQ(100u, SizedBufferLength(buffer.get()));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(0xAA, buffer.get()[i]) << "kept byte " << i;
  for (int i = 10; i < 100; ++i) ASSERT_EQ(0, buffer.get()[i]) << "regained byte " << i;
}

// ---- TLVDescriptor ----

namespace {
class BareDescriptor final : public TLVDescriptor {};
}  // namespace

TEST(TLVDescriptorBase, OperationsAStoreDoesNotImplementFail) {
  BareDescriptor bare;
  uint16_t tag = 0;
  uint16_t length = 0;
  const void* value = nullptr;
  SizedBuffer buffer = nullptr;
  EXPECT_FALSE(bare.IsFile());
  EXPECT_FALSE(bare.IsMemory());
  EXPECT_EQ(FR_OK, bare.Close());
  EXPECT_EQ(FR_FAILED, bare.ReadInPlace(&tag, &length, &value));
  EXPECT_EQ(FR_FAILED, bare.Read(&tag, &length, &buffer));
  EXPECT_EQ(FR_FAILED, bare.Write(1, 0, nullptr));
  EXPECT_EQ(FR_FAILED, bare.Peek(&tag, &length));
  EXPECT_EQ(FR_FAILED, bare.Skip());
  EXPECT_EQ(FR_FAILED, bare.Find(1));
  EXPECT_EQ(FR_NO_MEMORY, bare.WriteBuffer(1, 0, nullptr));
}

// ---- TLVMemory ----

TEST(TLVMemory, WriterGrowsOnceAndIsTrimmedToItsRecords) {
  const long heapBlocks = kvtest::CountModuleHeapBlocks();
  {
    ScopedSizedBuffer buffer;
    Descriptor writer;
    ASSERT_EQ(FR_OK, TLVCreateMemory(buffer.variable(), writer.put()));
    EXPECT_EQ(256u, SizedBufferLength(buffer.get())) << "a writer starts on 256 bytes";
    const Bytes first(100, 0x11), second(100, 0x22), third(88, 0x33);
    ASSERT_EQ(FR_OK, TLVWrite(writer.get(), 0x1001, 100, first.data()));
    ASSERT_EQ(FR_OK, TLVWrite(writer.get(), 0x1002, 100, second.data()));
    EXPECT_EQ(256u, SizedBufferLength(buffer.get()));
    ASSERT_EQ(FR_OK, TLVWrite(writer.get(), 0x1003, 88, third.data()));
    EXPECT_EQ(208u + 88 + 260, SizedBufferLength(buffer.get())) << "grown to the record plus 256 bytes of room";
    EXPECT_EQ(FR_OK, writer.Destroy());
    EXPECT_EQ(300u, SizedBufferLength(buffer.get())) << "trimmed to the 300 bytes of records";

    Descriptor reader;
    ASSERT_EQ(FR_OK, TLVOpenMemory(buffer.variable(), OF_READ, reader.put()));
    ReadAll all = ReadEveryRecord(reader.get());
    EXPECT_EQ((std::vector<uint16_t>{0x1001, 0x1002, 0x1003}), all.tags);
    ASSERT_EQ(3u, all.values.size());
    EXPECT_EQ(first, all.values[0]);
    EXPECT_EQ(second, all.values[1]);
    EXPECT_EQ(third, all.values[2]);
    EXPECT_EQ(FR_END_OF_DATA, all.end);
    EXPECT_EQ(FR_END_OF_DATA, TLVPeek(reader.get(), nullptr, nullptr));
    EXPECT_EQ(FR_END_OF_DATA, TLVSkip(reader.get()));
    EXPECT_EQ(FR_END_OF_DATA, TLVFind(reader.get(), 0x1001));
  }
  EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks()) << "every buffer and value was released";
}

TEST(TLVMemory, MalformedDataAndTheEndAreToldApart) {
  const struct {
    const char* what;
    Bytes bytes;
    size_t goodRecords;
    FileResult end;
  } cases[] = {
      {"empty buffer", {}, 0, FR_END_OF_DATA},
      {"tag 0", Record(0, 1, Text("x")), 0, FR_BAD_FORMAT},
      {"length 0xFFF1", Join({Record(5, 0xFFF1), Bytes(0xFFF1, 0)}), 0, FR_BAD_FORMAT},
      {"value past the buffer", Record(5, 5, Text("ab")), 0, FR_BAD_FORMAT},
      {"one stray byte", Join({Record(5, 1, Text("a")), Bytes{1}}), 1, FR_BAD_FORMAT},
      {"three stray bytes", Join({Record(5, 1, Text("a")), Bytes{1, 0, 9}}), 1, FR_BAD_FORMAT},
      {"records then the end", Join({Record(5, 1, Text("a")), Record(6, 0)}), 2, FR_END_OF_DATA},
  };
  for (const auto& c : cases) {
    ScopedSizedBuffer buffer;
    Fill(buffer, c.bytes);
    Descriptor reader;
    ASSERT_EQ(FR_OK, TLVOpenMemory(buffer.variable(), OF_READ, reader.put()));
    for (size_t i = 0; i < c.goodRecords; ++i) ASSERT_EQ(FR_OK, TLVSkip(reader.get())) << c.what;
    uint16_t tag = 0xBEEF;
    EXPECT_EQ(c.end, TLVPeek(reader.get(), &tag, nullptr)) << c.what;
    EXPECT_EQ(0xBEEF, tag) << c.what << ": a failed Peek hands out nothing";
    EXPECT_EQ(c.end, TLVSkip(reader.get())) << c.what;
    const void* value = nullptr;
    EXPECT_EQ(c.end, TLVReadInPlace(reader.get(), nullptr, nullptr, &value)) << c.what;
    ScopedSizedBuffer copy;
    EXPECT_EQ(c.end, TLVRead(reader.get(), nullptr, nullptr, copy.variable())) << c.what;
    EXPECT_EQ(nullptr, copy.get()) << c.what;
    EXPECT_EQ(c.end, TLVFind(reader.get(), 5)) << c.what;
  }
}

TEST(TLVMemory, LargestValueIsAccepted) {
  ScopedSizedBuffer buffer;
  Fill(buffer, Join({Record(9, kTLVLargestLength), Bytes(kTLVLargestLength, 0x5A)}));
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenMemory(buffer.variable(), OF_READ, reader.put()));
  ReadAll all = ReadEveryRecord(reader.get());
  ASSERT_EQ(1u, all.values.size());
  EXPECT_EQ(kTLVLargestLength, all.values[0].size());
  EXPECT_EQ(FR_END_OF_DATA, all.end);
}

TEST(TLVMemory, EmptyValueLeavesTheValueHandleUntouched) {
  ScopedSizedBuffer buffer;
  Fill(buffer, Join({Record(7, 0), Record(8, 2, Text("ab"))}));
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenMemory(buffer.variable(), OF_READ, reader.put()));
  unsigned char marker = 0;
  SizedBuffer value = &marker;
  uint16_t tag = 0;
  uint16_t length = 0xBEEF;
  EXPECT_EQ(FR_OK, TLVRead(reader.get(), &tag, &length, &value));
  EXPECT_EQ(7, tag);
  EXPECT_EQ(0, length);
  EXPECT_EQ(&marker, value);
  value = nullptr;
  EXPECT_EQ(FR_OK, TLVRead(reader.get(), &tag, &length, &value));
  EXPECT_EQ(8, tag);
  ASSERT_NE(nullptr, value);
  EXPECT_EQ(2u, SizedBufferLength(value));
  EXPECT_EQ(0, memcmp(value, "ab", 2));
  SizedBufferFree(&value);
}

TEST(TLVMemory, ReadInPlaceLendsPointersIntoTheBuffer) {
  ScopedSizedBuffer buffer;
  Fill(buffer, Join({Record(1, 3, Text("abc")), Record(2, 1, Text("d"))}));
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenMemory(buffer.variable(), OF_READ, reader.put()));
  const void* value = nullptr;
  uint16_t tag = 0;
  uint16_t length = 0;
  ASSERT_EQ(FR_OK, TLVReadInPlace(reader.get(), &tag, &length, &value));
  EXPECT_EQ(buffer.get() + 4, value);
  EXPECT_EQ(3, length);
  ASSERT_EQ(FR_OK, TLVReadInPlace(reader.get(), &tag, &length, &value));
  EXPECT_EQ(buffer.get() + 11, value);
  EXPECT_EQ(2, tag);
}

TEST(TLVMemory, FindStopsAtTheMatchingHeaderAndNeverWraps) {
  ScopedSizedBuffer buffer;
  Fill(buffer, Join({Record(1, 1, Text("a")), Record(2, 1, Text("b")), Record(3, 0), Record(2, 1, Text("c"))}));
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenMemory(buffer.variable(), OF_READ, reader.put()));
  const void* value = nullptr;
  uint16_t length = 0;
  ASSERT_EQ(FR_OK, TLVFind(reader.get(), 2));
  ASSERT_EQ(FR_OK, TLVFind(reader.get(), 2)) << "the current record matches: no move";
  uint16_t tag = 0;
  ASSERT_EQ(FR_OK, TLVReadInPlace(reader.get(), &tag, &length, &value));
  EXPECT_EQ(0, memcmp(value, "b", 1));
  ASSERT_EQ(FR_OK, TLVFind(reader.get(), 2));
  ASSERT_EQ(FR_OK, TLVReadInPlace(reader.get(), &tag, &length, &value));
  EXPECT_EQ(0, memcmp(value, "c", 1));
  EXPECT_EQ(FR_END_OF_DATA, TLVFind(reader.get(), 1)) << "the search does not start over";
}

TEST(TLVMemory, WriteBufferNeedsABuffer) {
  ScopedSizedBuffer records;
  {
    Descriptor writer;
    ASSERT_EQ(FR_OK, TLVCreateMemory(records.variable(), writer.put()));
    EXPECT_EQ(FR_NO_MEMORY, TLVWriteBuffer(writer.get(), 4, 3, nullptr));
    ScopedSizedBuffer value;
    Fill(value, Text("xyz"));
    EXPECT_EQ(FR_INVALID, TLVWriteBuffer(writer.get(), 4, 4, value.get())) << "longer than the buffer";
    EXPECT_EQ(FR_OK, TLVWriteBuffer(writer.get(), 4, 3, value.get()));
  }
  ASSERT_EQ(7u, SizedBufferLength(records.get())) << "only the one good record was written";
  EXPECT_EQ(Record(4, 3, Text("xyz")), Bytes(records.get(), records.get() + 7));
}

TEST(TLVMemory, StoreEndsAtTheLastByteThatA16BitPositionReaches) {
  ScopedSizedBuffer records;
  {
    Descriptor writer;
    ASSERT_EQ(FR_OK, TLVCreateMemory(records.variable(), writer.put()));
    const Bytes large(kTLVLargestLength, 0x42);
    ASSERT_EQ(FR_OK, TLVWrite(writer.get(), 1, kTLVLargestLength, large.data()));
    EXPECT_EQ(0xFFFFu, SizedBufferLength(records.get())) << "growth stops at 65,535 bytes";
    ASSERT_EQ(FR_OK, TLVWrite(writer.get(), 2, 7, "1234567"));  // ends at byte 65,535
    EXPECT_EQ(FR_NO_MEMORY, TLVWrite(writer.get(), 3, 0, nullptr)) << "no room for one more header";
  }
  EXPECT_EQ(0xFFFFu, SizedBufferLength(records.get()));
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenMemory(records.variable(), OF_READ, reader.put()));
  ReadAll all = ReadEveryRecord(reader.get());
  EXPECT_EQ((std::vector<uint16_t>{1, 2}), all.tags);
  EXPECT_EQ(FR_END_OF_DATA, all.end);
}

TEST(TLVMemory, ReaderNeedsABufferAndItsDestructionKeepsTheBuffer) {
  SizedBuffer none = nullptr;
  TLVDescriptor* descriptor = reinterpret_cast<TLVDescriptor*>(0x1);
  EXPECT_EQ(FR_INVALID, TLVOpenMemory(&none, OF_READ, &descriptor));
  EXPECT_EQ(nullptr, descriptor);

  ScopedSizedBuffer buffer;
  Fill(buffer, Record(1, 0));
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenMemory(buffer.variable(), OF_READ, reader.put()));
  EXPECT_TRUE(reader.get()->IsMemory());
  EXPECT_FALSE(reader.get()->IsFile());
  EXPECT_EQ(FR_OK, reader.get()->Close());
  EXPECT_EQ(FR_INVALID, TLVPeek(reader.get(), nullptr, nullptr)) << "a closed store is not read";
  EXPECT_EQ(FR_OK, reader.Destroy());
  EXPECT_EQ(4u, SizedBufferLength(buffer.get())) << "a reader never resizes its buffer";
}

// ---- TLVFile ----

TEST(TLVFile, WrittenRecordsReadBack) {
  kvtest::TempDirectory directory;
  const std::wstring path = directory.File(L"records.tlv");
  {
    Descriptor writer;
    ASSERT_EQ(FR_OK, TLVCreateFile(path.c_str(), OF_WRITE, OF_SHARE_EXCLUSIVE, writer.put()));
    EXPECT_TRUE(writer.get()->IsFile());
    ASSERT_EQ(FR_OK, TLVWrite(writer.get(), 0x1019, 6, "a\0b\0\0\0"));
    ASSERT_EQ(FR_OK, TLVWrite(writer.get(), 0x2000, 0, nullptr));
    ASSERT_EQ(FR_OK, TLVWrite(writer.get(), 0x101A, 2, "z\0"));
    EXPECT_EQ(FR_OK, writer.Destroy());
  }
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenFile(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, reader.put()));
  uint16_t tag = 0;
  uint16_t length = 0;
  ASSERT_EQ(FR_OK, TLVPeek(reader.get(), &tag, &length));
  EXPECT_EQ(0x1019, tag);
  EXPECT_EQ(6, length);
  EXPECT_EQ(0u, FilePosition(reader.get())) << "Peek does not move";
  const void* value = nullptr;
  EXPECT_EQ(FR_INVALID, TLVReadInPlace(reader.get(), &tag, &length, &value));
  ReadAll all = ReadEveryRecord(reader.get());
  EXPECT_EQ((std::vector<uint16_t>{0x1019, 0x2000, 0x101A}), all.tags);
  ASSERT_EQ(3u, all.values.size());
  EXPECT_EQ(Bytes({'a', 0, 'b', 0, 0, 0}), all.values[0]);
  EXPECT_TRUE(all.values[1].empty());
  EXPECT_EQ(FR_END_OF_DATA, all.end);
  ASSERT_EQ(FR_OK, static_cast<TLVFile*>(reader.get())->Seek(FILE_BEGIN, 0, nullptr));
  EXPECT_EQ(FR_OK, TLVFind(reader.get(), 0x101A));
  EXPECT_EQ(14u, FilePosition(reader.get())) << "at the matching record's header";
}

TEST(TLVFile, CreateAndOpenPassOnTheFileCodes) {
  kvtest::TempDirectory directory;
  const std::wstring existing = WriteBytes(directory, L"existing.tlv", Record(1, 0));
  TLVDescriptor* descriptor = reinterpret_cast<TLVDescriptor*>(0x1);
  EXPECT_EQ(FR_EXISTS, TLVCreateFile(existing.c_str(), OF_WRITE, OF_SHARE_EXCLUSIVE, &descriptor));
  EXPECT_EQ(nullptr, descriptor);
  EXPECT_EQ(FR_NOT_FOUND,
            TLVOpenFile(directory.File(L"missing.tlv").c_str(), OF_READ, OF_SHARE_DENY_WRITE, &descriptor));
  EXPECT_EQ(nullptr, descriptor);
}

TEST(TLVFile, ReadRestoresThePositionOnEveryFailure) {
  const Bytes good = Record(5, 2, Text("ok"));
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
    const std::wstring path = WriteBytes(directory, L"tail.tlv", Join({good, c.tail}));
    Descriptor reader;
    ASSERT_EQ(FR_OK, TLVOpenFile(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, reader.put()));
    ScopedSizedBuffer value;
    ASSERT_EQ(FR_OK, TLVRead(reader.get(), nullptr, nullptr, value.variable())) << c.what;
    value.reset();
    EXPECT_EQ(c.expected, TLVRead(reader.get(), nullptr, nullptr, value.variable())) << c.what;
    EXPECT_EQ(6u, FilePosition(reader.get())) << c.what << ": back at the start of the bad bytes";
    value.reset();
    EXPECT_EQ(c.expected, TLVRead(reader.get(), nullptr, nullptr, value.variable())) << c.what << ", again";
  }
}

TEST(TLVFile, EmptyFileIsTheEndForEveryOperation) {
  kvtest::TempDirectory directory;
  const std::wstring path = WriteBytes(directory, L"empty.tlv", {});
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenFile(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, reader.put()));
  ScopedSizedBuffer value;
  EXPECT_EQ(FR_END_OF_DATA, TLVPeek(reader.get(), nullptr, nullptr));
  EXPECT_EQ(FR_END_OF_DATA, TLVRead(reader.get(), nullptr, nullptr, value.variable()));
  EXPECT_EQ(FR_END_OF_DATA, TLVSkip(reader.get()));
  EXPECT_EQ(FR_END_OF_DATA, TLVFind(reader.get(), 1));
}

TEST(TLVFile, LargestValueAndEmptyValue) {
  kvtest::TempDirectory directory;
  const std::wstring path = WriteBytes(
      directory, L"sizes.tlv", Join({Record(3, 0), Record(4, kTLVLargestLength), Bytes(kTLVLargestLength, 0x61)}));
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenFile(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, reader.put()));
  unsigned char marker = 0;
  SizedBuffer value = &marker;
  uint16_t length = 0xBEEF;
  EXPECT_EQ(FR_OK, TLVRead(reader.get(), nullptr, &length, &value));
  EXPECT_EQ(0, length);
  EXPECT_EQ(&marker, value) << "an empty value leaves the handle alone";
  ReadAll all = ReadEveryRecord(reader.get());
  ASSERT_EQ(1u, all.values.size());
  EXPECT_EQ(kTLVLargestLength, all.values[0].size());
  EXPECT_EQ(FR_END_OF_DATA, all.end);
}

TEST(TLVFile, SkipOverACutValueLeavesTheEndToPeek) {
  kvtest::TempDirectory directory;
  const std::wstring path = WriteBytes(directory, L"cut.tlv", Join({Record(6, 10), Text("abc")}));
  Descriptor reader;
  ASSERT_EQ(FR_OK, TLVOpenFile(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, reader.put()));
  EXPECT_EQ(FR_OK, TLVSkip(reader.get()));
  EXPECT_EQ(FR_END_OF_DATA, TLVPeek(reader.get(), nullptr, nullptr));
}

// ---- Report texts ----

TEST(ReportStrings, CommentAndBodyFromTaggedRecords) {
  const wchar_t* const kUntouched = L"untouched";
  const struct {
    const char* what;
    Bytes file;
    const wchar_t* comment;  // kUntouched: never set
    const wchar_t* body;
  } cases[] = {
      {"comment then body",
       Join({Record(0x1019, 10, Utf16(L"Note")), Record(0x101A, 8, Utf16(L"Sum"))}), L"Note", L"Sum"},
      {"body first: a later comment is not read",
       Join({Record(0x101A, 8, Utf16(L"Sum")), Record(0x1019, 10, Utf16(L"Note"))}), kUntouched, L"Sum"},
      {"a later comment replaces an earlier one",
       Join({Record(0x1019, 4, Utf16(L"A")), Record(0x1019, 4, Utf16(L"B")), Record(0x101A, 2, Utf16(L""))}), L"B",
       L""},
      {"an empty comment gives none",
       Join({Record(0x1019, 4, Utf16(L"A")), Record(0x1019, 0), Record(0x101A, 4, Utf16(L"x"))}), nullptr, L"x"},
      {"a value without its terminator still ends",
       Join({Record(0x1019, 6, Utf16(L"abc", false)), Record(0x101A, 3, Text("xyz"))}), L"abc", L"\u7978"},
      {"other tags are passed over",
       Join({Record(0x0001, 2, Text("..")), Record(0x1019, 4, Utf16(L"C")), Record(0x7777, 0),
             Record(0x101A, 4, Utf16(L"D"))}),
       L"C", L"D"},
      {"a malformed record ends the scan quietly",
       Join({Record(0x1019, 4, Utf16(L"C")), Record(0, 0), Record(0x101A, 4, Utf16(L"D"))}), L"C", kUntouched},
      {"a file of other bytes yields nothing", Text("hello world, no records here"), kUntouched, kUntouched},
  };
  for (const auto& c : cases) {
    kvtest::TempDirectory directory;
    const std::wstring path = WriteBytes(directory, L"report.rpt", c.file);
    const long heapBlocks = kvtest::CountModuleHeapBlocks();
    wchar_t* comment = const_cast<wchar_t*>(kUntouched);
    wchar_t* body = const_cast<wchar_t*>(kUntouched);
    EXPECT_EQ(1, ReadReportStrings(path.c_str(), &comment, &body)) << c.what;
    if (c.comment == kUntouched || c.comment == nullptr) {
      EXPECT_EQ(c.comment, comment) << c.what;
    } else {
      ASSERT_NE(nullptr, comment) << c.what;
      EXPECT_STREQ(c.comment, comment) << c.what;
    }
    if (c.body == kUntouched) {
      EXPECT_EQ(c.body, body) << c.what;
    } else {
      ASSERT_NE(nullptr, body) << c.what;
      EXPECT_STREQ(c.body, body) << c.what;
    }
    if (comment != kUntouched) ModuleFree(comment);
    if (body != kUntouched) ModuleFree(body);
    EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks()) << c.what << ": a replaced comment must be released";
    // The file is closed again: an exclusive open succeeds.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << c.what;
    CloseHandle(file);
  }
}

TEST(ReportStrings, MissingFileReturnsZeroAndLeavesTheOuts) {
  kvtest::TempDirectory directory;
  wchar_t* comment = reinterpret_cast<wchar_t*>(0x1);
  wchar_t* body = reinterpret_cast<wchar_t*>(0x2);
  EXPECT_EQ(0, ReadReportStrings(directory.File(L"none.rpt").c_str(), &comment, &body));
  EXPECT_EQ(reinterpret_cast<wchar_t*>(0x1), comment);
  EXPECT_EQ(reinterpret_cast<wchar_t*>(0x2), body);
}
