// The report texts read from an exported file's tagged values, and the
// tagged-value stores' writers, which the module itself never calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "options/report_strings.h"
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

// Every record's tag and value until a read fails, and that read's code.
std::vector<Bytes> ReadAll(TLVDescriptor* store, FileResult* end) {
  std::vector<Bytes> records;
  for (;;) {
    ScopedSizedBuffer value;
    uint16_t tag = 0, length = 0;
    if ((*end = TLVRead(store, &tag, &length, value.variable())) != FR_OK) return records;
    records.push_back(Record(tag, length, length ? Bytes(value.get(), value.get() + length) : Bytes()));
  }
}

}  // namespace

TEST(TaggedValues, WritersInMemoryAndFileReadBackAsWritten) {
  const long heapBlocks = kvtest::CountModuleHeapBlocks();
  const std::vector<Bytes> written = {Record(0x1001, 100, Bytes(100, 1)), Record(0x1002, 0),
                                      Record(0x1003, 188, Bytes(188, 3))};
  kvtest::TempDirectory directory;
  const std::wstring path = directory.File(L"records.tlv");
  {
    ScopedSizedBuffer buffer;
    TLVDescriptor* memory = nullptr;
    TLVDescriptor* file = nullptr;
    ASSERT_EQ(FR_OK, TLVCreateMemory(buffer.variable(), &memory));
    ASSERT_EQ(FR_OK, TLVCreateFile(path.c_str(), OF_WRITE, OF_SHARE_EXCLUSIVE, &file));
    EXPECT_EQ(256u, SizedBufferLength(buffer.get()));
    for (const Bytes& record : written) {
      const uint16_t tag = static_cast<uint16_t>(record[0] | record[1] << 8);
      const uint16_t length = static_cast<uint16_t>(record.size() - 4);
      EXPECT_EQ(FR_OK, TLVWrite(memory, tag, length, record.data() + 4));
      EXPECT_EQ(FR_OK, TLVWrite(file, tag, length, record.data() + 4));
    }
    EXPECT_EQ(FR_NO_MEMORY, TLVWriteBuffer(memory, 9, 3, nullptr)) << "nothing half-written";
    EXPECT_EQ(FR_OK, TLVDestroy(memory));
    EXPECT_EQ(FR_OK, TLVDestroy(file));
    EXPECT_EQ(300u, SizedBufferLength(buffer.get())) << "the writer's end trims the buffer to its records";
    EXPECT_EQ(Join({written[0], written[1], written[2]}), kvtest::ReadBytes(path));

    FileResult end = FR_OK;
    ASSERT_EQ(FR_OK, TLVOpenMemory(buffer.variable(), OF_READ, &memory));
    ASSERT_EQ(FR_OK, TLVOpenFile(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, &file));
    for (TLVDescriptor* reader : {memory, file}) {
      uint16_t tag = 0;
      EXPECT_EQ(FR_OK, TLVFind(reader, 0x1002));
      EXPECT_EQ(FR_OK, TLVPeek(reader, &tag, nullptr));
      EXPECT_EQ(0x1002, tag) << "Find stops at the record, Peek does not move";
      EXPECT_EQ(FR_OK, TLVSkip(reader));
      EXPECT_EQ(std::vector<Bytes>{written[2]}, ReadAll(reader, &end));
      EXPECT_EQ(FR_END_OF_DATA, end);
      EXPECT_EQ(FR_END_OF_DATA, TLVFind(reader, 0x1001)) << "the search never starts over";
      EXPECT_EQ(FR_OK, TLVDestroy(reader));
    }
    EXPECT_EQ(FR_EXISTS, TLVCreateFile(path.c_str(), OF_WRITE, OF_SHARE_EXCLUSIVE, &file));
  }
  {
    ScopedSizedBuffer full;  // 16-bit positions: the store ends at byte 65,535
    TLVDescriptor* writer = nullptr;
    ASSERT_EQ(FR_OK, TLVCreateMemory(full.variable(), &writer));
    EXPECT_EQ(FR_OK, TLVWrite(writer, 1, kTLVLargestLength, Bytes(kTLVLargestLength, 0x42).data()));
    EXPECT_EQ(FR_OK, TLVWrite(writer, 2, 7, "1234567"));
    EXPECT_EQ(FR_NO_MEMORY, TLVWrite(writer, 3, 0, nullptr));
    EXPECT_EQ(FR_OK, TLVDestroy(writer));
    EXPECT_EQ(0xFFFFu, SizedBufferLength(full.get()));
  }
  EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks());
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
      {"a value cut short by the file's end is not read",
       Join({Record(0x1019, 4, Utf16(L"C", 2)), Record(0x101A, 8, Text("ab"))}), L"C", kUntouched},
      {"a length over the largest ends the scan",
       Join({Record(0x1019, 4, Utf16(L"C", 2)), Record(0x101A, 0xFFF1), Bytes(0xFFF1, 0x41)}), L"C", kUntouched},
      {"a file of other bytes yields nothing", Text("hello world, no records here"), kUntouched, kUntouched},
  };
  for (const auto& c : cases) {
    kvtest::TempDirectory directory;
    const std::wstring path = directory.Write(L"q.rpt", c.file);
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
