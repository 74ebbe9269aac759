// Export jobs as a host makes them, through the real KV2FOLD.dll and our
// MAPI32.DLL over a profile made for each test: setup from a pointer record
// and from a block, a wrong profile, the encode/decode round trip (the
// dialog setup has tests of its own). Records and blocks lie at the end of a
// page followed by one that faults. Every test ends with the provider
// holding no object and no buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interface/kve_api.h"
#include "platform/tests/test_support.h"
#include "tests/support/options_blocks.h"
#include "tests/support/provider_fixture.h"

namespace {

using kvtest::OptionsText;

using kvtest::Text;

class JobThroughProviderTest : public kvtest::ModuleThroughProviderTest {
 protected:
  // The trace lines of MAPILogonEx calls: "MAPI::MAPILogonEx flags=0x80008022 -> 0x00000000".
  std::vector<std::string> LogonTrace() { return TraceLines("MAPILogonEx"); }

  // The job's settled options as the host decodes them.
  OptionsText Decoded(KVEJobHandle job, KVEDestinationOptions*& record) {
    record = nullptr;
    EXPECT_EQ(0, decode(job, &record));
    if (!record) return {};
    return {record->profileName.pointer, record->password.pointer, record->postingKind, record->folderPath.pointer};
  }
};

TEST_F(JobThroughProviderTest, FromAPointerRecordOrABlockTheJobLogsOnSilently) {
  const OptionsText text = {L"work", L"secret", FolderReport, L"Mailbox#Inbox#Reports"};
  KVEDestinationOptions pointerRecord = kvtest::PointerRecord(text);
  std::vector<unsigned char> block = kvtest::NativeBlock(text);
  std::vector<unsigned char> block32 = kvtest::Block32(text);
  struct Case {
    const char* what;
    const void* bytes;
    size_t size;
  } cases[] = {
      {"pointer record", &pointerRecord, sizeof pointerRecord},
      {"block", block.data(), block.size()},
      {"block of a 32-bit host", block32.data(), block32.size()},
  };
  kvtest::GuardedPage page;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(tracePath_.c_str());
    KVEJobHandle job = nullptr;
    KVEJobRecord* record = nullptr;
    ASSERT_EQ(0, initExport(nullptr, 0, page.PlaceAtEnd<KVEDestinationOptions>(c.bytes, c.size), &info_, &job, &record));
    ASSERT_NE(nullptr, job);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(sizeof(KVEJobRecord), record->structSize);
    EXPECT_EQ(L"", Text(errorText(job)));
    EXPECT_EQ((std::vector<std::string>{"MAPI::MAPILogonEx flags=0x80008022 -> 0x00000000"}), LogonTrace());

    KVEDestinationOptions* decoded = nullptr;
    OptionsText settled = Decoded(job, decoded);
    EXPECT_EQ(L"Work", Text(settled.profile)) << "the name of the profile in use, from its status table";
    EXPECT_EQ(L"secret", Text(settled.password));
    EXPECT_EQ(FolderReport, settled.postingKind);
    EXPECT_EQ(L"Mailbox#Inbox#Reports", Text(settled.folder));
    freeOptions(0, decoded);

    // The sender identity the logon read is checked on the postings (export tests).
    EXPECT_EQ(1, liveObjects_()) << "the job holds its session and nothing else";

    EXPECT_EQ(0, termExport(job, 0));
    EXPECT_NE(std::string::npos, Trace().find("IMAPISession::Logoff flags=0x00000000 -> 0x00000000"));
    EXPECT_EQ(0, liveObjects_());
    EXPECT_EQ(0, outstandingBuffers_());
  }
}

TEST_F(JobThroughProviderTest, AWrongProfileOrPasswordFailsWithoutADialog) {
  struct Case {
    const wchar_t* profile;
    const wchar_t* password;
  } cases[] = {{L"Nobody", L"secret"}, {L"Work", L"wrong"}, {L"Work", nullptr}};
  for (const Case& c : cases) {
    const std::wstring profile = Text(c.profile);
    SCOPED_TRACE(std::string(profile.begin(), profile.end()));
    DeleteFileW(tracePath_.c_str());
    KVEDestinationOptions record = kvtest::PointerRecord({c.profile, c.password, FolderReport, L"Mailbox"});
    KVEJobHandle job = reinterpret_cast<KVEJobHandle>(0x1);
    EXPECT_EQ(-1, initExport(nullptr, 0, &record, &info_, &job, nullptr));
    EXPECT_EQ(nullptr, job) << "no job, so no text for the host to read";
    EXPECT_EQ((std::vector<std::string>{"MAPI::MAPILogonEx flags=0x80008022 -> 0x80040111"}), LogonTrace())
        << "silent: the profile chooser never opens";
    EXPECT_EQ(0, termExport(nullptr, 0));
  }
}

TEST_F(JobThroughProviderTest, EncodeThenANewJobFromTheBlockThenDecodeGiveEveryFieldBack) {
  const OptionsText cases[] = {
      {L"Work", L"secret", FolderReport, L"Mailbox#Inbox#Reports"},
      {L"Work", L"secret", ReportInstance, L"Mailbox#Inbox"},
      {L"Work", L"secret", PersonalReport, nullptr},
      {L"Open", nullptr, FolderReport, L"Mailbox"},
      {L"Open", nullptr, PersonalReport, nullptr},
  };
  kvtest::GuardedPage page;
  for (const OptionsText& text : cases) {
    SCOPED_TRACE(std::to_string(text.postingKind) + (text.password ? " with password" : " without password"));
    KVEDestinationOptions pointerRecord = kvtest::PointerRecord(text);
    KVEJobHandle first = nullptr;
    ASSERT_EQ(0, initExport(nullptr, 0, &pointerRecord, &info_, &first, nullptr));
    KVEDestinationOptions* block = nullptr;
    WORD size = 0;
    ASSERT_EQ(0, encode(first, &block, &size));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(size, block->blockSize);
    EXPECT_EQ(sizeof(KVEDestinationOptions), block->structSize);
    // The host keeps the bytes (the block itself dies with the job).
    std::vector<unsigned char> stored(reinterpret_cast<unsigned char*>(block),
                                      reinterpret_cast<unsigned char*>(block) + size);
    KVEDestinationOptions* firstDecoded = nullptr;
    OptionsText before = Decoded(first, firstDecoded);
    EXPECT_EQ(0, termExport(first, 0));

    KVEJobHandle second = nullptr;
    ASSERT_EQ(0, initExport(nullptr, 0, page.PlaceAtEnd<KVEDestinationOptions>(stored.data(), stored.size()), &info_,
                            &second, nullptr));
    KVEDestinationOptions* secondDecoded = nullptr;
    OptionsText after = Decoded(second, secondDecoded);
    EXPECT_EQ(Text(before.profile), Text(after.profile));
    EXPECT_EQ(Text(text.password), Text(after.password));
    EXPECT_EQ(Text(before.password), Text(after.password));
    EXPECT_EQ(text.postingKind, after.postingKind);
    EXPECT_EQ(Text(text.folder), Text(after.folder));
    EXPECT_EQ(0, freeOptions(0, firstDecoded));
    EXPECT_EQ(0, freeOptions(0, secondDecoded));
    EXPECT_EQ(0, termExport(second, 0));
  }
}

}  // namespace

TEST_F(JobThroughProviderTest, RecordsNamingNoProfileOrAnUnknownKindAreRefusedBeforeLogon) {
  struct Case {
    const char* what;
    OptionsText text;
    int code;
  } cases[] = {
      {"no profile name", {nullptr, L"secret", FolderReport, L"Mailbox"}, 2},
      {"an empty profile name, not the default profile", {L"", L"secret", FolderReport, L"Mailbox"}, 2},
      {"kind 0", {L"Work", L"secret", 0, L"Mailbox"}, 5},
      {"kind 1012", {L"Work", L"secret", 1012, L"Mailbox"}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(tracePath_.c_str());
    KVEDestinationOptions record = kvtest::PointerRecord(c.text);
    KVEJobHandle job = reinterpret_cast<KVEJobHandle>(0x1);
    EXPECT_EQ(c.code, initExport(nullptr, 0, &record, &info_, &job, nullptr));
    EXPECT_EQ(nullptr, job);
    EXPECT_TRUE(LogonTrace().empty()) << "no logon was tried";
    EXPECT_EQ(0, termExport(nullptr, 0));
  }
}

TEST_F(JobThroughProviderTest, HostMistakesWithJobHandlesAnswer5AndNeverCrash) {
  KVEDestinationOptions record = kvtest::PointerRecord({L"Work", L"secret", FolderReport, L"Mailbox#Inbox#Reports"});
  KVEExportRequest request{};
  request.structSize = sizeof request;
  KVEDestinationOptions* decoded = nullptr;
  KVEDestinationOptions* block = nullptr;
  WORD size = 0;
  // A handle the module never handed out, and one of a job already ended:
  // neither is used as a pointer.
  KVEJobHandle ended = nullptr;
  ASSERT_EQ(0, initExport(nullptr, 0, &record, &info_, &ended, nullptr));
  ASSERT_EQ(0, termExport(ended, 0));
  std::vector<unsigned char> garbage(4096, 0xCD);
  // A new job never takes over an ended job's handle: the host's stale copy
  // would export into it.
  KVEJobHandle next = nullptr;
  ASSERT_EQ(0, initExport(nullptr, 0, &record, &info_, &next, nullptr));
  EXPECT_NE(ended, next);
  for (KVEJobHandle handle : {reinterpret_cast<KVEJobHandle>(garbage.data()), ended}) {
    EXPECT_EQ(5, exportFiles(handle, &request));
    EXPECT_EQ(5, encode(handle, &block, &size));
    EXPECT_EQ(5, decode(handle, &decoded));
    EXPECT_EQ(nullptr, errorText(handle));
    EXPECT_EQ(5, termExport(handle, 0)) << "and no MAPIUninitialize of its own";
  }
  EXPECT_EQ(0, termExport(next, 0));

  // A job the host still holds when the module is terminated: its session
  // ends while MAPI is there, and the job refuses to export afterwards.
  KVEJobHandle job = nullptr;
  ASSERT_EQ(0, initExport(nullptr, 0, &record, &info_, &job, nullptr));
  EXPECT_EQ(1, liveObjects_());
  terminate_();
  EXPECT_EQ(0, liveObjects_()) << "the session ended with the module";
  EXPECT_EQ(5, exportFiles(job, &request));
  EXPECT_EQ(L"", Text(errorText(job)));
  EXPECT_EQ(0, decode(job, &decoded)) << "what the job settled is still there";
  EXPECT_EQ(FolderReport, decoded ? decoded->postingKind : 0);
  freeOptions(0, decoded);
  EXPECT_EQ(0, termExport(job, 0));
  ASSERT_EQ(0, initialize_(0));  // for the fixture's own KVETerminateW
}
