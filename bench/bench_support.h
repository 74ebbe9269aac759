// What the benchmark programs share: a clock, the working-set probe, source
// files of random bytes, best-of-n measuring, and a provider session with a
// folder to post into (profile "Bench", store "Mailbox", folder
// "Mailbox#Postings" in a work folder of the program's own).
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <kvcommon/unique_resource.h>

namespace bench {

double Seconds();

// The largest working set seen while a run goes on, sampled as it writes.
class WorkingSetProbe {
 public:
  void Reset() { peak_ = Current(); }
  void Sample();
  size_t Peak() const { return peak_; }

 private:
  static size_t Current();
  size_t peak_ = 0;
};
extern WorkingSetProbe g_probe;

// A file of size pseudo-random bytes.
bool MakeSource(const std::wstring& path, uint64_t size);
// Deletes the files (not the folders) in directory.
void DeleteFilesIn(const std::wstring& directory);

struct Result {
  double seconds = 0;
  size_t peakWorkingSet = 0;
  bool ok = false;
};
// Best of several runs; cleanUp runs before each and after the last.
Result Measure(int runs, const std::function<bool()>& run, const std::function<void()>& cleanUp);

struct Provider {
  kvcommon::UniqueInterface<IMAPISession> session;
  kvcommon::UniqueInterface<IMsgStore> store;
  kvcommon::UniqueInterface<IMAPIFolder> folder;
  std::wstring folderDirectory;  // where the folder keeps its messages and index
};
constexpr const wchar_t* kProfileName = L"Bench";
constexpr const wchar_t* kFolderPath = L"Mailbox#Postings";

// Points KV_MAPI_PROFILES at folder\profiles.ini, writes the profile and its
// store (folder\store) there, logs on and opens the folder for writing.
bool OpenProvider(const std::wstring& folder, Provider& out);
// Removes every message of the folder (files and index).
void EmptyFolder(const Provider& provider);

}  // namespace bench
