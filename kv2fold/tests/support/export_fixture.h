// What the export tests share: a MAPI client of the test's own that reads a
// folder's messages back through MAPI32.DLL, and the fixture that runs one
// export as a host does (a job from an options record, the export, the job's
// end) into a profile "Work" whose store holds Inbox#Reports and Team.
#pragma once

#include <windows.h>

#include <mapitags.h>
#include <mapiutil.h>
#include <mapix.h>

#include <gtest/gtest.h>

#include <kvcommon/unique_resource.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <msgfile/message_reader.h>

#include "folder_index.h"
#include "message_files.h"
#include "interface/kve_api.h"
#include "store_layout.h"
#include "tests/support/mapi_reader.h"
#include "tests/support/options_blocks.h"
#include "tests/support/provider_fixture.h"

namespace kvtest {

inline LONGLONG Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

class ExportThroughProviderTest : public kvtest::ModuleThroughProviderTest {
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
  Outcome Export(const kvtest::OptionsText& options, const std::vector<std::wstring>& paths, int count = -1,
                 DWORD language = 0x0409, const std::vector<std::wstring>* names = nullptr) {
    std::vector<KVEExportFile> files(paths.size());
    std::vector<KVEExportFile*> filePointers;
    for (size_t i = 0; i < paths.size(); ++i) {
      files[i].structSize = sizeof(KVEExportFile);
      files[i].useFileName = 1;
      files[i].fileName = names ? (*names)[i].c_str() : paths[i].c_str();
      filePointers.push_back(&files[i]);
    }
    info_.fileCount = static_cast<uint16_t>(paths.size());
    info_.files = filePointers.data();
    info_.language = language;
    std::vector<const wchar_t*> pathPointers;
    for (const std::wstring& path : paths) pathPointers.push_back(path.c_str());
    KVEExportRequest request{};
    request.structSize = sizeof request;
    request.count = static_cast<uint16_t>(count < 0 ? paths.size() : static_cast<size_t>(count));
    request.paths = pathPointers.data();

    Outcome outcome;
    KVEDestinationOptions record = kvtest::PointerRecord(options);
    KVEJobHandle job = nullptr;
    outcome.initCode = initExport(nullptr, 0, &record, &info_, &job, nullptr);
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

  std::vector<Posted> Read(const std::vector<std::wstring>& path) {
    return MapiReader(mapi_).Read(L"Work", L"secret", path);
  }

  // Class, subject and attachment data of each .msg file in a folder of
  // Work's store, by subject.
  struct MessageFile {
    std::wstring messageClass;
    Bytes data;
  };
  std::map<std::wstring, MessageFile> MessageFiles(const std::wstring& pathBelowTop) {
    std::map<std::wstring, MessageFile> files;
    std::unique_ptr<provider::StoreLayout> layout;
    provider::FolderRecord record;
    if (provider::StoreLayout::Open(StoreDirectory(L"Work"), layout) != provider::StoreResult::Ok ||
        layout->FindByPath(pathBelowTop, record) != provider::StoreResult::Ok) {
      ADD_FAILURE() << "no folder";
      return files;
    }
    provider::MessageFileListing listing;
    EXPECT_EQ(provider::StoreResult::Ok, provider::ListMessageFiles(record.directory, listing));
    for (const provider::MessageFileListing::Saved& saved : listing.saved) {
      msgfile::MessageReader reader;
      EXPECT_EQ(S_OK, reader.Open(provider::SavedFilePath(record.directory, saved).c_str()));
      msgfile::Property subject, messageClass, data;
      EXPECT_EQ(S_OK, reader.GetProperty(msgfile::ObjectRef::Message(), PR_SUBJECT_W, &subject));
      EXPECT_EQ(S_OK, reader.GetProperty(msgfile::ObjectRef::Message(), PR_MESSAGE_CLASS_W, &messageClass));
      EXPECT_EQ(S_OK, reader.GetProperty(msgfile::ObjectRef::Attachment(0), PR_ATTACH_DATA_BIN, &data));
      files[msgfile::UnicodeValue(subject)] = {msgfile::UnicodeValue(messageClass), Bytes(data.bytes.begin(), data.bytes.end())};
    }
    return files;
  }

  // The trace's store and folder openings.
  std::vector<std::string> FolderOpenings() {
    std::vector<std::string> lines = TraceLines("IMAPISession::OpenMsgStore");
    for (const std::string& line : TraceLines("IMsgStore::OpenEntry")) lines.push_back(line);
    return lines;
  }

  const kvtest::OptionsText reports_ = {L"Work", L"secret", FolderReport, L"Mailbox#Inbox#Reports"};
  // Run by Export between the job's setup and the export.
  std::function<void()> beforeExport_;
};

}  // namespace kvtest
