// Every MAPI call of a full export (setup, two postings, the job's end) fails
// in turn with each of a few results real stores give. Whatever fails, the
// host gets a clean code and text, the folder lists exactly the messages that
// were saved, each of them whole, no temporary file is left behind, and the
// provider holds no object and no buffer once the job has ended.
#include <cstdio>
#include <set>

#include "tests/support/export_fixture.h"

namespace {

using namespace kvtest;

struct Call {
  std::string method;  // "Interface::Method"
  unsigned nth;        // its ordinal among the calls of that method
};

// The calls of a trace, in order.
std::vector<Call> CallsOf(const std::vector<std::string>& lines) {
  std::vector<Call> calls;
  std::map<std::string, unsigned> seen;
  for (const std::string& line : lines) {
    const std::string method = line.substr(0, line.find(' '));
    calls.push_back({method, ++seen[method]});
  }
  return calls;
}

// Files below directory whose names end in suffix.
size_t CountFiles(const std::wstring& directory, const std::wstring& suffix) {
  size_t count = 0;
  WIN32_FIND_DATAW found;
  kvcommon::UniqueFind search(FindFirstFileW((directory + L"\\*").c_str(), &found));
  for (bool more = search.valid(); more; more = FindNextFileW(search.get(), &found) != FALSE) {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      count += CountFiles(directory + L"\\" + name, suffix);
    } else if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      ++count;
    }
  }
  return count;
}

using FaultSweepTest = ExportThroughProviderTest;

TEST_F(FaultSweepTest, EveryFailingCallEndsCleanly) {
  const Bytes pdf = Pattern(9000, 1);
  const Bytes text = Pattern(4096, 2);
  const std::vector<std::wstring> files = {MakeFile(L"a.pdf", pdf), MakeFile(L"b.txt", text)};
  const std::map<std::wstring, Bytes> sources = {{L"a.pdf", pdf}, {L"b.txt", text}};

  // The reference run: which calls an export makes.
  ClearTrace();
  ASSERT_EQ(0, Export(reports_, files).code);
  const std::vector<Call> calls = CallsOf(TraceLines("::"));
  ASSERT_GE(calls.size(), 20u) << Trace();
  SetEnvironmentVariableW(KV_MAPI_TRACE_VARIABLE, nullptr);

  const HRESULT results[] = {MAPI_E_CALL_FAILED, MAPI_E_NOT_ENOUGH_MEMORY, MAPI_E_NO_ACCESS, MAPI_E_BUSY};
  const std::set<int> codes = {0, -1, 2, 3, 6};
  unsigned run = 0;
  for (const Call& call : calls) {
    for (HRESULT result : results) {
      // Each run posts into a store of its own.
      const std::wstring profile = L"Run" + std::to_wstring(++run);
      MakeProfile(profile, L"secret", false);
      char what[160];
      snprintf(what, sizeof what, "%s #%u fails with 0x%08lX", call.method.c_str(), call.nth,
               static_cast<unsigned long>(result));
      SCOPED_TRACE(what);

      ASSERT_EQ(S_OK, injectFault_(call.method.c_str(), call.nth, result));
      const Outcome outcome = Export({profile.c_str(), L"secret", FolderReport, L"Mailbox#Inbox#Reports"}, files);
      clearFaults_();
      ExpectNothingHeld();
      EXPECT_TRUE(codes.count(outcome.initCode)) << "setup answered " << outcome.initCode;

      const std::vector<StoredMessage> posted = Read(L"Inbox#Reports", profile.c_str());
      std::set<std::wstring> subjects;
      for (const StoredMessage& message : posted) {
        EXPECT_TRUE(subjects.insert(message.subject()).second) << "posted twice";
        const auto source = sources.find(message.subject());
        ASSERT_NE(sources.end(), source) << "unexpected message";
        EXPECT_TRUE(message.data() == source->second) << "message not whole";
      }
      if (outcome.initCode == 0) {
        EXPECT_TRUE(codes.count(outcome.code)) << "export answered " << outcome.code;
        EXPECT_EQ(outcome.code == 0, posted.size() == 2) << "code " << outcome.code << ", posted " << posted.size();
        if (outcome.code == -1) {
          EXPECT_FALSE(outcome.text.empty());
          EXPECT_EQ(std::wstring::npos, outcome.text.find(L'%')) << "unformatted text";
        }
      } else {
        EXPECT_TRUE(posted.empty());
      }
      const std::wstring store = StoreDirectory(profile);
      EXPECT_EQ(posted.size(), CountFiles(store, L".msg")) << "a message file the folder does not list";
      EXPECT_EQ(0u, CountFiles(store, L".tmp")) << "a temporary file left behind";
      if (HasFatalFailure() || ::testing::Test::HasFailure()) return;  // the first broken run tells the story
    }
  }
  std::printf("fault sweep: %zu calls x %zu results = %u exports\n", calls.size(), std::size(results), run);
}

}  // namespace
