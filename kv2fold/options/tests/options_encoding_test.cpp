// A job's options handed to the host and back: the encoded block byte by
// byte, its limits, the decoded record, and reading a block back into a job.
// (The round trip through a real logon is a test of the module program.)
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "interface/export_job.h"
#include "options/options_encoding.h"
#include "platform/tests/test_support.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/options_blocks.h"

namespace {

using kvtest::OptionsText;
constexpr size_t H = sizeof(KVEDestinationOptions);  // 18, or 30 in the 64-bit build

using kvtest::Text;

struct JobDeleter {
  void operator()(ExportJob* job) const { DestroyExportJob(job); }
};
using JobPtr = std::unique_ptr<ExportJob, JobDeleter>;

JobPtr JobWith(const OptionsText& text) {
  JobPtr job(CreateExportJob(nullptr));
  job->destination.profileName.reset(ModuleDupWide(text.profile));
  job->destination.password.reset(ModuleDupWide(text.password));
  job->destination.postingKind = text.postingKind;
  job->destination.folderPath.reset(ModuleDupWide(text.folder));
  return job;
}

uint16_t Read16(const unsigned char* bytes, size_t at) {
  uint16_t value;
  memcpy(&value, bytes + at, sizeof value);
  return value;
}
uintptr_t ReadOffset(const unsigned char* bytes, size_t at) {
  uintptr_t value;
  memcpy(&value, bytes + at, sizeof value);
  return value;
}

TEST(OptionsEncoding, BlockLayout) {
  struct Case {
    OptionsText text;
    uintptr_t profileAt, passwordAt, folderAt;
    size_t size;
  } cases[] = {
      // 3, 1 and 5 characters: each string two bytes a character with its terminator.
      {{L"abc", L"x", FolderReport, L"fghij"}, H, H + 8, H + 12, H + 24},
      {{L"abc", nullptr, FolderReport, L"fghij"}, H, 0, H + 8, H + 20},
      {{L"abc", L"x", PersonalReport, nullptr}, H, H + 8, 0, H + 12},
      {{L"Profil \u00dcbersicht", nullptr, ReportInstance, nullptr}, H, 0, 0, H + 34},
      {{L"", L"", ReportInstance, L""}, H, H + 2, H + 4, H + 6},
  };
  static_assert(H == 18 || H == 30, "the block header is the record");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes");
    JobPtr job = JobWith(c.text);
    KVEDestinationOptions* block = nullptr;
    WORD size = 0;
    ASSERT_EQ(KVE_OK, EncodeDestinationOptions(job->destination, job->encodedOptions, &block, &size));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(c.size, size);
    const auto* bytes = reinterpret_cast<const unsigned char*>(block);
    EXPECT_EQ(H, Read16(bytes, 0)) << "structSize";
    EXPECT_EQ(c.profileAt, ReadOffset(bytes, offsetof(KVEDestinationOptions, profileName)));
    EXPECT_EQ(c.passwordAt, ReadOffset(bytes, offsetof(KVEDestinationOptions, password)));
    EXPECT_EQ(c.text.postingKind, Read16(bytes, offsetof(KVEDestinationOptions, postingKind)));
    EXPECT_EQ(c.folderAt, ReadOffset(bytes, offsetof(KVEDestinationOptions, folderPath)));
    EXPECT_EQ(c.size, Read16(bytes, offsetof(KVEDestinationOptions, blockSize)));
    EXPECT_EQ(kvtest::NativeBlock(c.text), std::vector<unsigned char>(bytes, bytes + size)) << "byte for byte";
    EXPECT_EQ(job->encodedOptions.get(), block) << "the job owns the block";
  }
}

TEST(OptionsEncoding, EncodingAgainReplacesTheBlockAndRefusesWhatCannotBeReadBack) {
  JobPtr job = JobWith({L"Work", L"pw", FolderReport, L"Mailbox#Inbox"});
  KVEDestinationOptions* first = nullptr;
  ASSERT_EQ(KVE_OK, EncodeDestinationOptions(job->destination, job->encodedOptions, &first, nullptr)) << "the size out is optional";
  std::vector<unsigned char> firstBytes(reinterpret_cast<unsigned char*>(first),
                                        reinterpret_cast<unsigned char*>(first) + first->blockSize);
  const long heapBlocks = kvtest::CountModuleHeapBlocks();
  KVEDestinationOptions* second = nullptr;
  WORD size = 0;
  ASSERT_EQ(KVE_OK, EncodeDestinationOptions(job->destination, job->encodedOptions, &second, &size));
  EXPECT_EQ(firstBytes, std::vector<unsigned char>(reinterpret_cast<unsigned char*>(second),
                                                   reinterpret_cast<unsigned char*>(second) + size));
  EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks()) << "the first block was freed";

  // The largest block blockSize can state, and one character more.
  const size_t largest = (0xFFFF - H) / 2;
  const std::wstring fits(largest - 1, L'p');
  const std::wstring tooLong(largest, L'p');
  struct Case {
    const char* what;
    OptionsText text;
    int code;
  } cases[] = {
      {"largest", {fits.c_str(), nullptr, FolderReport, nullptr}, KVE_OK},
      {"one character too long", {tooLong.c_str(), nullptr, FolderReport, nullptr}, KVE_BAD_ARGUMENT},
      {"too long together", {fits.c_str(), L"", FolderReport, nullptr}, KVE_BAD_ARGUMENT},
      {"no profile name", {nullptr, L"pw", FolderReport, L"Mailbox"}, KVE_BAD_ARGUMENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobPtr other = JobWith(c.text);
    KVEDestinationOptions* block = reinterpret_cast<KVEDestinationOptions*>(0x1);
    size = 1;
    EXPECT_EQ(c.code, EncodeDestinationOptions(other->destination, other->encodedOptions, &block, &size));
    if (c.code == KVE_OK) {
      EXPECT_EQ(H + 2 * largest, static_cast<size_t>(size));
    } else {
      EXPECT_EQ(nullptr, block);
      EXPECT_EQ(0, size);
    }
  }
  EXPECT_EQ(KVE_BAD_ARGUMENT, EncodeDestinationOptions(job->destination, job->encodedOptions, nullptr, &size));

  // Out of memory: no block, and the job holds none.
  kvtest::ScopedAllocationFailure failure(1);
  KVEDestinationOptions* block = reinterpret_cast<KVEDestinationOptions*>(0x1);
  EXPECT_EQ(KVE_NO_MEMORY, EncodeDestinationOptions(job->destination, job->encodedOptions, &block, &size));
  EXPECT_EQ(nullptr, block);
  EXPECT_EQ(firstBytes.size(), size) << "the size out keeps the computed size";
  EXPECT_EQ(nullptr, job->encodedOptions.get());
}

TEST(OptionsEncoding, DecodedRecordsBelongToTheHost) {
  const long heapBlocks = kvtest::CountModuleHeapBlocks();
  JobPtr job = JobWith({L"Work", nullptr, FolderReport, L"Mailbox#Inbox"});
  KVEDestinationOptions* record = nullptr;
  ASSERT_EQ(KVE_OK, DecodeDestinationOptions(job->destination, &record));
  EXPECT_EQ(H, record->structSize);
  EXPECT_EQ(0, record->blockSize);
  EXPECT_EQ(FolderReport, record->postingKind);
  EXPECT_EQ(nullptr, record->password.pointer);
  EXPECT_NE(job->destination.profileName.get(), record->profileName.pointer) << "copies, not the job's strings";
  job.reset();
  EXPECT_EQ(L"Work", Text(record->profileName.pointer)) << "the record outlives the job";
  EXPECT_EQ(L"Mailbox#Inbox", Text(record->folderPath.pointer));
  EXPECT_EQ(0, KVEFreeDestinationOptionsW(0, record));
  EXPECT_EQ(heapBlocks, kvtest::CountModuleHeapBlocks());

  // Out of memory at the record or at any string: nothing is left.
  job = JobWith({L"Work", L"pw", FolderReport, L"Mailbox"});
  const long withJob = kvtest::CountModuleHeapBlocks();
  for (int nth = 1; nth <= 4; ++nth) {
    SCOPED_TRACE("allocation " + std::to_string(nth) + " fails");
    record = reinterpret_cast<KVEDestinationOptions*>(0x1);
    kvtest::ScopedAllocationFailure failure(nth);
    EXPECT_EQ(KVE_NO_MEMORY, DecodeDestinationOptions(job->destination, &record));
    EXPECT_EQ(nullptr, record);
    EXPECT_EQ(withJob, kvtest::CountModuleHeapBlocks());
  }
  EXPECT_EQ(KVE_BAD_ARGUMENT, DecodeDestinationOptions(job->destination, nullptr));
}

TEST(OptionsEncoding, ReadingABlockIntoAJobThatHoldsOptions) {
  const OptionsText held = {L"Held", L"held pw", PersonalReport, L"Held#Folder"};
  struct Case {
    const char* what;
    OptionsText block;
    OptionsText after;
  } cases[] = {
      {"everything", {L"New", L"new pw", FolderReport, L"New#Folder"}, {L"New", L"new pw", FolderReport, L"New#Folder"}},
      {"no profile name keeps the job's", {nullptr, L"new pw", FolderReport, L"F"}, {L"Held", L"new pw", FolderReport, L"F"}},
      {"no password keeps the job's", {L"New", nullptr, FolderReport, L"F"}, {L"New", L"held pw", FolderReport, L"F"}},
      {"no folder path clears the job's", {L"New", L"new pw", ReportInstance, nullptr}, {L"New", L"new pw", ReportInstance, nullptr}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobPtr job = JobWith(held);
    std::vector<unsigned char> block = kvtest::NativeBlock(c.block);
    DestinationOptionsCopy<wchar_t> options;
    ASSERT_EQ(KVE_OK, ReadDestinationOptions(reinterpret_cast<const KVEDestinationOptions*>(block.data()), options));
    std::fill(block.begin(), block.end(), 0xEE);  // the copy outlives the host's block
    ASSERT_EQ(KVE_OK, ApplyOptionsBlock(job->destination, options));
    EXPECT_EQ(Text(c.after.profile), Text(job->destination.profileName.get()));
    EXPECT_EQ(Text(c.after.password), Text(job->destination.password.get()));
    EXPECT_EQ(c.after.postingKind, job->destination.postingKind);
    EXPECT_EQ(Text(c.after.folder), Text(job->destination.folderPath.get()));
  }
}

}  // namespace
