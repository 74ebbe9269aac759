// What the export tests share: the fixture that runs one export as a host
// does (a job from an options record, the export, the job's end) into a
// profile "Work" whose store holds Inbox#Reports and Team (read-only), and
// what the export left in the store.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "interface/kve_api.h"
#include "kvtest/stored_messages.h"
#include "tests/support/host_files.h"
#include "tests/support/module_fixture.h"
#include "tests/support/options_blocks.h"

namespace kvtest {

inline LONGLONG Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

class ExportThroughProviderTest : public ModuleThroughProviderTest {
 protected:
  void SetUp() override {
    ModuleThroughProviderTest::SetUp();
    MakeProfile(L"Work", L"secret", false, {L"Mailbox#Inbox#Reports", L"Mailbox#Team"}, {L"Mailbox#Team"});
  }

  struct Outcome {
    int initCode = -99;
    int code = -99;
    std::wstring text;
  };
  // One export as a host runs it: a job whose files are named by names
  // (default: the paths), the export of count of the paths (default: all),
  // the job's end.
  Outcome Export(const OptionsText& options, const std::vector<std::wstring>& paths, int count = -1,
                 DWORD language = 0x0409, const std::vector<std::wstring>* names = nullptr) {
    HostFiles<wchar_t> files(paths, names ? *names : std::vector<std::wstring>{});
    KVEExportInfo info = files.Info(info_);
    info.language = language;
    const KVEExportRequest request = files.Request(count < 0 ? paths.size() : size_t(count));

    Outcome outcome;
    KVEDestinationOptions record = PointerRecord(options);
    KVEJobHandle job = nullptr;
    outcome.initCode = initExport(nullptr, 0, &record, &info, &job, nullptr);
    if (outcome.initCode != 0) {
      // MAPI stays initialised after a refused setup; ending a null job balances it.
      EXPECT_EQ(0, termExport(nullptr, 0));
      return outcome;
    }
    if (beforeExport_) beforeExport_();
    outcome.code = exportFiles(job, &request);
    outcome.text = Text(errorText(job));
    EXPECT_EQ(0, termExport(job, 0));
    return outcome;
  }

  // What a folder of Work's store holds, by its path below the top (empty:
  // Common Views).
  std::vector<StoredMessage> Read(const std::wstring& path, const wchar_t* profile = L"Work") {
    return StoredMessages(StoreDirectory(profile), path);
  }
  std::vector<std::wstring> Subjects(const std::wstring& path) {
    std::vector<std::wstring> subjects;
    for (const StoredMessage& message : Read(path)) subjects.push_back(message.subject());
    return subjects;
  }

  // The trace's store and folder openings.
  std::vector<std::string> FolderOpenings() {
    std::vector<std::string> lines = TraceLines("IMAPISession::OpenMsgStore");
    for (const std::string& line : TraceLines("IMsgStore::OpenEntry")) lines.push_back(line);
    return lines;
  }

  const OptionsText reports_ = {L"Work", L"secret", FolderReport, L"Mailbox#Inbox#Reports"};
  // Run by Export between the job's setup and the export.
  std::function<void()> beforeExport_;
};

}  // namespace kvtest
