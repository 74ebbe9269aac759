// The narrow exports through the real KV2FOLD.dll into our MAPI32.DLL: texts,
// blocks and the list narrow in the thread's code page (double-byte too),
// narrow options converted for the wide job, job handles of either width told
// apart. (The narrow layer's conversions and its running out of memory are
// unit tests; kvhost's tests post through it end to end.)
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "interface/kve_api.h"
#include "kvtest/stored_messages.h"
#include "platform/tests/test_support.h"
#include "tests/support/host_files.h"
#include "tests/support/module_fixture.h"
#include "tests/support/options_blocks.h"

namespace {

using kvtest::Bytes;
using kvtest::InCodePage;
using kvtest::NarrowOptionsText;
using kvtest::Pattern;
using kvtest::Text;

class NarrowExportTest : public kvtest::ModuleThroughProviderTest {
 protected:
  void SetUp() override {
    ModuleThroughProviderTest::SetUp();
    initNarrow = MODULE_EXPORT(module_, KVEInitExportDestination);
    termNarrow = MODULE_EXPORT(module_, KVETermExportDestination);
    exportNarrow = MODULE_EXPORT(module_, KVEExportToDestination);
    errorTextNarrow = MODULE_EXPORT(module_, KVEGetErrorText);
    encodeNarrow = MODULE_EXPORT(module_, KVEEncodeDestinationOptions);
    decodeNarrow = MODULE_EXPORT(module_, KVEDecodeDestinationOptions);
    freeNarrow = MODULE_EXPORT(module_, KVEFreeDestinationOptions);
    destinationsNarrow = MODULE_EXPORT(module_, KVEGetExportDestinations);
    ASSERT_TRUE(initNarrow && termNarrow && exportNarrow && errorTextNarrow && encodeNarrow && decodeNarrow &&
                freeNarrow && destinationsNarrow);
  }

  // A narrow job over narrow files named by their paths, as a narrow host
  // makes it.
  int StartNarrow(const KVEDestinationOptionsA* options, const std::vector<std::string>& paths, KVEJobHandle& job,
                  DWORD language = 0x0409) {
    narrowFiles_.emplace(paths);
    KVEExportInfoA info = narrowFiles_->Info({sizeof(KVEExportInfoA)});
    info.language = language;
    KVEJobRecordA* record = nullptr;
    job = nullptr;
    int code = initNarrow(nullptr, 0, options, &info, &job, &record);
    if (code == 0) {
      EXPECT_EQ(sizeof(KVEJobRecordA), record ? record->structSize : 0u) << "the narrow job record";
    }
    return code;
  }
  KVEExportRequestA Request() const { return narrowFiles_->Request(); }
  // One whole narrow export; the narrow error text after it.
  int ExportNarrow(const NarrowOptionsText& options, const std::vector<std::string>& paths, std::string* text,
                   DWORD language = 0x0409) {
    KVEDestinationOptionsA record = kvtest::NarrowPointerRecord(options);
    KVEJobHandle job = nullptr;
    int code = StartNarrow(&record, paths, job, language);
    if (code != 0) return 100 + code;
    const KVEExportRequestA request = Request();
    code = exportNarrow(job, &request);
    if (text) *text = Text(errorTextNarrow(job));
    EXPECT_EQ(0, termNarrow(job, 0));
    return code;
  }
  std::vector<kvtest::StoredMessage> Read(const std::wstring& path) {
    return kvtest::StoredMessages(StoreDirectory(L"Work"), path);
  }

  decltype(&KVEInitExportDestination) initNarrow = nullptr;
  decltype(&KVETermExportDestination) termNarrow = nullptr;
  decltype(&KVEExportToDestination) exportNarrow = nullptr;
  decltype(&KVEGetErrorText) errorTextNarrow = nullptr;
  decltype(&KVEEncodeDestinationOptions) encodeNarrow = nullptr;
  decltype(&KVEDecodeDestinationOptions) decodeNarrow = nullptr;
  decltype(&KVEFreeDestinationOptions) freeNarrow = nullptr;
  decltype(&KVEGetExportDestinations) destinationsNarrow = nullptr;
  std::optional<kvtest::HostFiles<char>> narrowFiles_;  // of the last job started
  const NarrowOptionsText reports_ = {"Work", "secret", FolderReport, "Mailbox#Inbox#Reports"};
};

TEST_F(NarrowExportTest, AFailureLeavesItsTextNarrowAndHostMistakesAre5) {
  const std::string b = InCodePage(MakeFile(L"b.txt", Pattern(20, 3)));
  const std::string missing = InCodePage(folder_ + L"\\missing.pdf");
  // The German quotes in the thread's code page, 1252 here.
  std::string text;
  EXPECT_EQ(-1, ExportNarrow(reports_, {missing, b}, &text, 0x0407));
  EXPECT_EQ("Die Datei \x84missing.pdf\x93 wurde nicht bereitgestellt: MAPI_E_CALL_FAILED", text);

  KVEDestinationOptionsA record = kvtest::NarrowPointerRecord(reports_);
  KVEJobHandle job = nullptr;
  ASSERT_EQ(0, StartNarrow(&record, {missing}, job));
  const KVEExportRequestA request = Request();
  EXPECT_EQ(-1, exportNarrow(job, &request));
  EXPECT_EQ(Text(errorTextNarrow(job)), Text(errorTextNarrow(job))) << "converted afresh, the same text";
  EXPECT_EQ(KVE_BAD_ARGUMENT, exportNarrow(job, nullptr));
  EXPECT_EQ(KVE_BAD_ARGUMENT, encodeNarrow(job, nullptr, nullptr));
  EXPECT_EQ(KVE_BAD_ARGUMENT, decodeNarrow(job, nullptr));
  EXPECT_EQ(0, termNarrow(job, 0));

  // A setup without an out job is the wide side's 5, a bad record the
  // conversion's; the null job's end that follows answers 0 either way.
  KVEExportInfoA info{sizeof(KVEExportInfoA)};
  EXPECT_EQ(KVE_BAD_ARGUMENT, initNarrow(nullptr, 0, &record, &info, nullptr, nullptr));
  EXPECT_EQ(0, termNarrow(nullptr, 0));
  // A refused setup leaves no stale value in the host's outputs.
  KVEDestinationOptionsA tooShort{1};
  job = reinterpret_cast<KVEJobHandle>(0x1);
  auto* jobRecord = reinterpret_cast<KVEJobRecordA*>(0x2);
  EXPECT_EQ(KVE_BAD_ARGUMENT, initNarrow(nullptr, 0, &tooShort, &info, &job, &jobRecord));
  EXPECT_EQ(nullptr, job);
  EXPECT_EQ(nullptr, jobRecord);
  EXPECT_EQ(0, termNarrow(nullptr, 0));

  // A short description is read no further than its size, which ends the
  // page: cut before the files it is refused, cut before the language taken.
  kvtest::GuardedPage page;
  KVEExportInfoA cut{offsetof(KVEExportInfoA, files)};
  EXPECT_EQ(KVE_BAD_ARGUMENT,
            initNarrow(nullptr, 0, &record, page.PlaceAtEnd<KVEExportInfoA>(&cut, cut.structSize), &job, nullptr));
  EXPECT_EQ(nullptr, job);
  EXPECT_EQ(0, termNarrow(nullptr, 0));
  cut.structSize = offsetof(KVEExportInfoA, language);
  ASSERT_EQ(0, initNarrow(nullptr, 0, &record, page.PlaceAtEnd<KVEExportInfoA>(&cut, cut.structSize), &job, nullptr));
  EXPECT_EQ(0, termNarrow(job, 0));
}

// No handle, one the module never handed out, one of a job already ended,
// and one of a job of the other width answer 5 through either set of exports
// and are never used as a pointer (the test runs again under Wine's heap checking,
// which fills freed blocks); the jobs themselves still work.
TEST_F(NarrowExportTest, HandlesOfEndedMadeUpOrOtherWidthJobsAre5ThroughEitherEnd) {
  const std::wstring wideB = MakeFile(L"b.txt", Pattern(20, 4));
  KVEDestinationOptionsA record = kvtest::NarrowPointerRecord(reports_);
  const std::vector<std::string> files = {InCodePage(wideB)};
  KVEJobHandle ended = nullptr, narrowJob = nullptr, endedWide = nullptr, wideJob = nullptr;
  ASSERT_EQ(0, StartNarrow(&record, files, ended));
  EXPECT_EQ(0, termNarrow(ended, 0));
  ASSERT_EQ(0, StartNarrow(&record, files, narrowJob));
  EXPECT_NE(ended, narrowJob) << "an ended job's handle is not handed out again";
  KVEDestinationOptions wideRecord = kvtest::PointerRecord({L"Work", L"secret", FolderReport, L"Mailbox#Inbox#Reports"});
  kvtest::HostFiles<wchar_t> wideFiles({wideB});
  const KVEExportInfo wideInfo = wideFiles.Info(info_);
  ASSERT_EQ(0, initExport(nullptr, 0, &wideRecord, &wideInfo, &endedWide, nullptr));
  ASSERT_EQ(0, termExport(endedWide, 0));
  ASSERT_EQ(0, initExport(nullptr, 0, &wideRecord, &wideInfo, &wideJob, nullptr));
  EXPECT_NE(endedWide, wideJob);
  const KVEExportRequestA narrowRequest = Request();
  const KVEExportRequest wideRequest = wideFiles.Request();

  std::vector<unsigned char> garbage(4096, 0xCD);
  const KVEJobHandle madeUp = reinterpret_cast<KVEJobHandle>(garbage.data());
  // Every call of one width's exports answers 5 and leaves the outs as the
  // host set them. (A null job's end answers 0: it balances a refused setup.
  // The wide end of a wrong handle must not uninitialise MAPI either.)
  auto expectRefused = [](const char* width, KVEJobHandle handle, auto exportTo, auto textOf, auto encodeTo,
                          auto decodeTo, auto endJob, const auto* request, auto* untouched) {
    SCOPED_TRACE(width);
    auto* block = untouched;
    WORD size = 0xBEEF;
    EXPECT_EQ(KVE_BAD_ARGUMENT, exportTo(handle, request));
    EXPECT_EQ(nullptr, textOf(handle));
    EXPECT_EQ(KVE_BAD_ARGUMENT, encodeTo(handle, &block, &size));
    EXPECT_EQ(KVE_BAD_ARGUMENT, decodeTo(handle, &block));
    EXPECT_EQ(untouched, block);
    EXPECT_EQ(0xBEEF, size);
    if (handle) {
      EXPECT_EQ(KVE_BAD_ARGUMENT, endJob(handle, 0));
    }
  };
  for (KVEJobHandle handle : {KVEJobHandle(nullptr), madeUp, ended, endedWide, wideJob, narrowJob}) {
    SCOPED_TRACE(!handle ? "null" : handle == madeUp ? "made up" : handle == ended ? "ended"
                 : handle == endedWide ? "ended wide" : handle == wideJob ? "wide" : "narrow");
    if (handle != narrowJob) {
      expectRefused("narrow exports", handle, exportNarrow, errorTextNarrow, encodeNarrow, decodeNarrow, termNarrow,
                    &narrowRequest, reinterpret_cast<KVEDestinationOptionsA*>(0x9ABC));
    }
    if (handle != wideJob) {
      expectRefused("wide exports", handle, exportFiles, errorText, encode, decode, termExport, &wideRequest,
                    reinterpret_cast<KVEDestinationOptions*>(0x9ABC));
    }
  }
  EXPECT_TRUE(Read(L"Inbox#Reports").empty()) << "nothing posted through a wrong handle";
  EXPECT_EQ(0, exportNarrow(narrowJob, &narrowRequest)) << "both jobs still work: " << Text(errorTextNarrow(narrowJob));
  EXPECT_EQ(0, exportFiles(wideJob, &wideRequest));
  EXPECT_EQ(2u, Read(L"Inbox#Reports").size());
  EXPECT_EQ(0, termNarrow(narrowJob, 0));

  // A job the host still holds when the module is terminated: its session
  // ends while MAPI is there, and the job refuses to export afterwards.
  EXPECT_EQ(1, liveObjects_());
  terminate_();
  EXPECT_EQ(0, liveObjects_()) << "the session ended with the module";
  EXPECT_EQ(KVE_BAD_ARGUMENT, exportFiles(wideJob, &wideRequest));
  EXPECT_EQ(L"", Text(errorText(wideJob)));
  KVEDestinationOptions* decoded = nullptr;
  EXPECT_EQ(0, decode(wideJob, &decoded)) << "what the job settled is still there";
  EXPECT_EQ(FolderReport, decoded ? decoded->postingKind : 0);
  freeOptions(0, decoded);
  EXPECT_EQ(0, termExport(wideJob, 0));
  ASSERT_EQ(0, initialize_(0));  // for the fixture's own KVETerminateW
}

// The narrow block a job hands out lives until the next encoding, which
// releases it (its layout is the conversion's, a unit test; kvhost's tests
// export again from a saved narrow block).
TEST_F(NarrowExportTest, EncodingAgainReleasesTheFirstNarrowBlock) {
  KVEDestinationOptionsA record = kvtest::NarrowPointerRecord(reports_);
  KVEJobHandle job = nullptr;
  ASSERT_EQ(0, StartNarrow(&record, {}, job));
  KVEDestinationOptionsA* block = nullptr;
  WORD size = 0;
  ASSERT_EQ(0, encodeNarrow(job, &block, &size));
  ASSERT_NE(nullptr, block);
  const size_t heldAfterFirst = kvtest::ProcessHeapBusyBytes();
  ASSERT_EQ(0, encodeNarrow(job, &block, &size));
  EXPECT_EQ(heldAfterFirst, kvtest::ProcessHeapBusyBytes()) << "the first narrow block released for the second";
  EXPECT_EQ(0, termNarrow(job, 0));
}

// (What the narrow list holds is printed by kvhost --ansi in its tests.)
TEST_F(NarrowExportTest, TheDestinationListIsConvertedOnceAndKept) {
  KVEDestinationListA* list = destinationsNarrow();
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(sizeof(KVEDestinationListA), list->structSize);
  ASSERT_EQ(1, list->count);
  EXPECT_EQ(sizeof(KVEDestinationEntryA), list->entries[0]->structSize);
  // A German user now gets German from the wide side; the narrow list stays.
  kvtest::ScopedUserLanguage german(L"0407");
  EXPECT_EQ(L"Exchange-Ordner", std::wstring(MODULE_EXPORT(module_, KVEGetExportDestinationsW)()->entries[0]->name));
  EXPECT_EQ(list, destinationsNarrow());
  EXPECT_EQ("Exchange Folder", Text(destinationsNarrow()->entries[0]->name));
}

TEST_F(NarrowExportTest, NarrowOptionsReachTheWideJobConvertedAndAreFreedBeforeTheCallReturns) {
  // "Open" takes any password: a long one makes a kept copy stand out.
  const std::string password(3000, 'p');
  const NarrowOptionsText text = {"Open", password.c_str(), FolderReport, "Mailbox#Inbox#Reports"};
  const std::vector<unsigned char> block = kvtest::NarrowNativeBlock(text);
  const KVEDestinationOptionsA pointerRecord = kvtest::NarrowPointerRecord(text);
  const std::wstring widePassword(password.begin(), password.end());
  const KVEDestinationOptions wideRecord =
      kvtest::PointerRecord({L"Open", widePassword.c_str(), FolderReport, L"Mailbox#Inbox#Reports"});
  struct Case {
    const char* what;
    const void* bytes;
    size_t size;
  } cases[] = {{"pointer record", &pointerRecord, sizeof pointerRecord}, {"block", block.data(), block.size()}};
  // The heap a job holds once set up: through the wide export (after two
  // jobs to warm up), then through the narrow one; the decoded job shows
  // what reached it.
  KVEJobHandle job = nullptr;
  for (int warm = 0; warm < 2; ++warm) {
    ASSERT_EQ(0, initExport(nullptr, 0, &wideRecord, &info_, &job, nullptr));
    ASSERT_EQ(0, termExport(job, 0));
  }
  size_t before = kvtest::ProcessHeapBusyBytes();
  ASSERT_EQ(0, initExport(nullptr, 0, &wideRecord, &info_, &job, nullptr));
  const size_t wideHeld = kvtest::ProcessHeapBusyBytes() - before;
  ASSERT_EQ(0, termExport(job, 0));
  kvtest::GuardedPage page;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    before = kvtest::ProcessHeapBusyBytes();
    ASSERT_EQ(0, StartNarrow(page.PlaceAtEnd<KVEDestinationOptionsA>(c.bytes, c.size), {}, job));
    const size_t narrowHeld = kvtest::ProcessHeapBusyBytes() - before;
    EXPECT_GE(wideHeld + 1000, narrowHeld) << "a wide job holds " << wideHeld << " bytes; a kept copy adds 6,000";
    KVEDestinationOptionsA* decoded = nullptr;
    ASSERT_EQ(0, decodeNarrow(job, &decoded));
    EXPECT_EQ("Open", Text(decoded->profileName.pointer));
    EXPECT_EQ(password, Text(decoded->password.pointer));
    EXPECT_EQ("Mailbox#Inbox#Reports", Text(decoded->folderPath.pointer));
    EXPECT_EQ(0, freeNarrow(0, decoded));
    EXPECT_EQ(0, termNarrow(job, 0));
  }
}

// Run in a process whose ANSI code page is Japanese (932), where a narrow
// host's folder names can be Japanese too: the options record and the
// folders' narrow display names are in that code page.
class AnsiDoubleByte : public NarrowExportTest {};

TEST_F(AnsiDoubleByte, TheThreadsCodePageCarriesFolderAndFileNamesThrough) {
  KV_REQUIRE_DOUBLE_BYTE_CODE_PAGE();
  const std::wstring inbox = L"\u53D7\u4FE1\u30C8\u30EC\u30A4", reports = L"\u5831\u544A\u66F8";  // 受信トレイ, 報告書
  MakeProfile(L"Work", L"secret", false, {L"Mailbox#" + inbox + L"#" + reports});
  const std::string folderPath = InCodePage(L"Mailbox#" + inbox + L"#" + reports);
  const NarrowOptionsText options = {"Work", "secret", FolderReport, folderPath.c_str()};
  const LCID threadLocale = GetThreadLocale();
  struct Case {
    LANGID language;
    UINT codePage;
    std::wstring name;
  } cases[] = {
      {0x0411, 932, L"\u56DB\u534A\u671F\u5831\u544A.pdf"},  // 四半期報告.pdf
      {0x0804, 936, L"\u62A5\u544A.txt"},                     // 报告.txt, simplified: not in 932
  };
  std::vector<std::wstring> subjects;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    ASSERT_TRUE(SetThreadLocale(MAKELCID(c.language, SORT_DEFAULT)));
    const Bytes bytes = Pattern(777, c.codePage);
    const std::string path = InCodePage(MakeFile(c.name, bytes), c.codePage);
    const std::string missing = InCodePage(folder_ + L"\\" + c.name + L".gone", c.codePage);
    std::string text;
    EXPECT_EQ(-1, ExportNarrow(options, {path, missing}, &text));
    EXPECT_EQ("The file \"" + InCodePage(c.name + L".gone", c.codePage) + "\" was not posted: MAPI_E_CALL_FAILED", text);
    subjects.push_back(c.name);
    const std::vector<kvtest::StoredMessage> posted = Read(inbox + L"#" + reports);
    ASSERT_EQ(subjects.size(), posted.size());
    EXPECT_EQ(c.name, posted.back().subject());
    EXPECT_EQ(c.name, posted.back().Text(PR_ATTACH_LONG_FILENAME_W, true));
    EXPECT_EQ(bytes, posted.back().data());
  }
  SetThreadLocale(threadLocale);
}

}  // namespace
