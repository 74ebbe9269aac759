// Each dialog when the window map has no memory for its object: the dialog
// ends at once and its caller answers out of memory, where an
// unbound dialog would show buttons that nothing handles. Every module
// allocation a prompt makes fails in turn, the map's node among them. Our
// MAPI32.DLL runs in the program: the folder tree and the export read its
// store.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "interface/export_driver.h"
#include "interface/export_job.h"
#include "kvtest/dialog_driver.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/host_files.h"
#include "tests/support/provider_in_process.h"
#include "ui/user_prompts.h"
#include "ui/window_framework.h"

namespace {

constexpr DWORD kEnglish = 0x0409;
constexpr DWORD kStuckMs = 10000;

// Cancels every dialog the calling thread shows until Stop, and notes
// whether one showed. A dialog still up kStuckMs after its Cancel is noted
// as stuck and its modal loop broken with WM_QUIT: a dialog without its
// object fails the case instead of hanging the program.
class DialogWatch {
 public:
  DialogWatch() : caller_(GetCurrentThreadId()), thread_([this] { Watch(); }) {}
  ~DialogWatch() { Stop(); }
  DialogWatch(const DialogWatch&) = delete;
  DialogWatch& operator=(const DialogWatch&) = delete;

  void Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  bool shown() const { return shown_; }
  bool stuck() const { return stuck_; }

 private:
  void Watch() {
    kvtest::DialogDriver driver(caller_, 0);
    HWND first = nullptr;
    DWORD cancelled = 0;
    for (; !done_; Sleep(20)) {
      for (HWND dialog : driver.Dialogs()) {
        if (!first) {
          first = dialog;
          cancelled = GetTickCount();
        }
        shown_ = true;
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      }
      if (first && !stuck_ && IsWindow(first) && GetTickCount() - cancelled > kStuckMs) {
        stuck_ = true;
        PostThreadMessageW(caller_, WM_QUIT, 0, 0);
      }
    }
  }

  DWORD caller_;
  std::atomic<bool> done_{false};
  std::atomic<bool> shown_{false};
  std::atomic<bool> stuck_{false};
  std::thread thread_;
};

class DialogBindingTest : public kvtest::ProviderInProcessTest {
 protected:
  void SetUp() override {
    ProviderInProcessTest::SetUp();
    if (HasFatalFailure()) return;
    job_ = CreateExportJob(nullptr);
    ASSERT_NE(nullptr, job_);
    job_->silent = 1;
    job_->language = kEnglish;
    ASSERT_EQ(KVE_OK, LogonProfile(*job_, L"Work", L"secret"));
  }
  void TearDown() override {
    if (job_) DestroyExportJob(job_);
    ProviderInProcessTest::TearDown();
  }

  // Runs call with the nth module allocation failing, for every n the call
  // reaches, each dialog cancelled as it shows. No run may leave a dialog
  // that its Cancel cannot close, an object in the window map or a MAPI
  // object beyond the session's; the run that fails the map's node answers
  // outOfMemory (nothing else in these calls does while every dialog is
  // cancelled). The last run, with nothing left to fail, shows its dialog.
  void SweepAllocations(const std::function<int()>& call, int outOfMemory) {
    const LONG held = liveObjects_();
    bool answeredOutOfMemory = false;
    for (int nth = 1; nth <= 400; ++nth) {
      SCOPED_TRACE("allocation " + std::to_string(nth) + " fails");
      int answer = 0;
      bool failed = false;
      DialogWatch watch;
      {
        kvtest::ScopedAllocationFailure failure(nth);
        answer = call();
        failed = failure.failed();
      }
      watch.Stop();
      EXPECT_FALSE(watch.stuck()) << "a dialog stayed up that its Cancel button could not close";
      EXPECT_EQ(0u, g_WndMap.count()) << "a dialog object left in the window map";
      EXPECT_EQ(held, liveObjects_()) << "MAPI objects not released";
      if (HasFailure()) return;
      if (answer == outOfMemory) answeredOutOfMemory = true;
      if (!failed) {
        EXPECT_TRUE(watch.shown()) << "the dialog never showed";
        EXPECT_TRUE(answeredOutOfMemory) << "no run answered out of memory";
        return;
      }
    }
    ADD_FAILURE() << "more allocations than expected";
  }

  ExportJob* job_ = nullptr;
};

TEST_F(DialogBindingTest, TheFolderDialogWithoutMemoryForItsObjectAnswersOutOfMemory) {
  ModuleBlock<wchar_t> path;
  SweepAllocations(
      [&] { return ChooseFolderPath(nullptr, job_->session.get(), L"Work", kEnglish, path); }, KVE_NO_MEMORY);
  EXPECT_EQ(nullptr, path.get()) << "a path without a choice";
}

TEST_F(DialogBindingTest, ThePostingKindDialogWithoutMemoryForItsObjectAnswersOutOfMemory) {
  uint16_t kind = ReportInstance;
  SweepAllocations([&] { return AskPostingKind(nullptr, kEnglish, kind); }, KVE_NO_MEMORY);
  EXPECT_EQ(ReportInstance, kind) << "changed without a choice";
}

// The report name dialog asks inside an export: the export ends out of
// memory, with the file not posted.
TEST_F(DialogBindingTest, AnExportWhoseReportNameDialogHasNoMemoryForItsObjectEndsOutOfMemory) {
  job_->silent = 0;  // asked interactively: every file goes as a report template
  job_->destination.postingKind = FolderReport;
  job_->destination.folderPath.reset(ModuleDupWide(L"Mailbox#Inbox#Reports"));
  ASSERT_TRUE(job_->fileNames.Allocate(1));
  job_->fileNames.Set(0, ModuleDupWide(L"Quarterly.rpt"));
  job_->fileCount = 1;
  const kvtest::HostFiles<wchar_t> files({MakeFile(L"Quarterly.rpt", {'r', 'p', 't'})});
  const KVEExportRequest request = files.Request();
  ClearTrace();
  SweepAllocations([&] { return ExportToDestination(job_, &request); }, KVE_NO_MEMORY);
  EXPECT_TRUE(TraceLines("IMAPIFolder::CreateMessage").empty()) << "a file posted without a name";
}

}  // namespace
