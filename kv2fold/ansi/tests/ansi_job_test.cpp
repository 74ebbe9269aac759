// The narrow job in the test program over our MAPI32.DLL, its wide side the
// module's own logic bound as the layer binds it at process attach: running
// out of memory at any allocation of a narrow export posts nothing under a
// name it could not copy, and leaves the host no stale handle or record.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ansi/ansi_job.h"
#include "ansi/ansi_layer.h"
#include "kvtest/stored_messages.h"
#include "platform/tests/test_support.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/host_files.h"
#include "tests/support/options_blocks.h"
#include "tests/support/provider_in_process.h"

namespace {

class AnsiJobTest : public kvtest::ProviderInProcessTest {
 protected:
  void SetUp() override {
    ProviderInProcessTest::SetUp();
    saved_ = g_AnsiLayer.wideEntries;
    savedCodePage_ = g_AnsiLayer.ansiCodePage;
    WideEntryTable& wide = g_AnsiLayer.wideEntries;
    wide.KVEInitExportDestinationW = &KVEInitExportDestinationW;
    wide.KVETermExportDestinationW = &KVETermExportDestinationW;
    wide.KVEExportToDestinationW = &KVEExportToDestinationW;
    wide.KVEGetErrorTextW = &KVEGetErrorTextW;
    wide.KVEFreeDestinationOptionsW = &KVEFreeDestinationOptionsW;
    wide.KVEFreeDestinationOptionsA = &KVEFreeDestinationOptionsA;
    wide.KVEDestinationOptionsA2W = &KVEDestinationOptionsA2W;
    wide.KVEDestinationOptionsW2A = &KVEDestinationOptionsW2A;
    g_AnsiLayer.ansiCodePage = CP_ACP;
  }
  void TearDown() override {
    g_AnsiLayer.wideEntries = saved_;
    g_AnsiLayer.ansiCodePage = savedCodePage_;
    ProviderInProcessTest::TearDown();
  }

  // The subjects of the messages in Work's Inbox#Reports, in the order saved.
  std::vector<std::wstring> Subjects() {
    std::vector<std::wstring> subjects;
    for (const kvtest::StoredMessage& message : kvtest::StoredMessages(StoreDirectory(L"Work"), L"Inbox#Reports")) {
      subjects.push_back(message.subject());
    }
    return subjects;
  }

 private:
  WideEntryTable saved_;
  UINT savedCodePage_ = CP_ACP;
};

using kvtest::InCodePage;

TEST_F(AnsiJobTest, RunningOutOfMemoryAnywhereInANarrowExportPostsNothingUnderAWrongName) {
  kvtest::HostFiles<char> files({InCodePage(MakeFile(L"QuarterlyResults.pdf", kvtest::Pattern(300, 1))),
                                  InCodePage(MakeFile(L"notes.txt", kvtest::Pattern(40, 2)))});
  KVEExportInfoA info = files.Info({sizeof(KVEExportInfoA)});
  info.language = 0x0409;
  const KVEExportRequestA request = files.Request();
  const KVEDestinationOptionsA record =
      kvtest::NarrowPointerRecord({"Work", "secret", FolderReport, "Mailbox#Inbox#Reports"});
  size_t posted = 0;
  int refusedSetups = 0, refusedExports = 0;
  for (int nth = 1;; ++nth) {
    SCOPED_TRACE("allocation " + std::to_string(nth) + " fails");
    auto job = reinterpret_cast<KVEJobHandle>(0x4444);
    auto jobRecord = reinterpret_cast<KVEJobRecordA*>(0x5555);
    int setUp = -99, exported = -99;
    bool reached = false;
    {
      kvtest::ScopedAllocationFailure failure(nth);
      setUp = AnsiInitExportDestination(nullptr, 0, &record, &info, &job, &jobRecord);
      if (setUp == KVE_OK) exported = AnsiExportToDestination(job, &request);
      reached = failure.failed();
    }
    if (setUp != KVE_OK) {
      EXPECT_EQ(KVE_NO_MEMORY, setUp);
      EXPECT_EQ(nullptr, job) << "no stale handle for the host to end";
      EXPECT_EQ(nullptr, jobRecord);
      ++refusedSetups;
      EXPECT_EQ(KVE_OK, AnsiTermExportDestination(nullptr, 0));
    } else {
      EXPECT_TRUE(exported == KVE_OK || exported == KVE_NO_MEMORY)
          << "code " << exported << ": " << kvtest::Text(AnsiGetErrorText(job));
      refusedExports += exported == KVE_NO_MEMORY;
      EXPECT_EQ(KVE_OK, AnsiTermExportDestination(job, 0));
    }
    const std::vector<std::wstring> subjects = Subjects();
    for (size_t i = posted; i < subjects.size(); ++i) {
      EXPECT_TRUE(subjects[i] == L"QuarterlyResults.pdf" || subjects[i] == L"notes.txt")
          << "posted as " << testing::PrintToString(subjects[i]);
    }
    if (exported == KVE_OK) {
      EXPECT_EQ(posted + 2, subjects.size()) << "a success posts both files";
    }
    posted = subjects.size();
    ExpectNothingHeld();
    if (!reached) {
      EXPECT_EQ(KVE_OK, exported);
      break;
    }
    ASSERT_LT(nth, 300);
  }
  EXPECT_GE(refusedSetups, 6) << "job, record, options, export info, files and their names";
  EXPECT_GE(refusedExports, 3) << "request and its paths";
}

}  // namespace
