// What the benchmark programs share: a clock, the working-set probe, source
// files of random bytes, best-of-n measuring, the work folder, and the
// 4096-byte reading and copying that a posting's streaming is measured
// against.
#pragma once

#include <windows.h>

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
// Deletes the files (not the folders) in directory and the folders below it.
void DeleteFilesIn(const std::wstring& directory);

struct Result {
  double seconds = 0;
  size_t peakWorkingSet = 0;
  bool ok = false;
};
// Best of several runs; cleanUp runs before each and after the last.
Result Measure(int runs, const std::function<bool()>& run, const std::function<void()>& cleanUp);

// The folder given on the command line, or %TEMP%\name; made if missing.
std::wstring WorkFolder(const std::wstring& given, const wchar_t* name);

// What a posting reads and writes at a time.
constexpr DWORD kPiece = 4096;
// Reads source in 4096-byte pieces as the module does (until a short read)
// and hands each to sink; false on failure. Samples the probe every MiB.
bool ForEachPiece(const std::wstring& source, const std::function<bool(const BYTE*, DWORD)>& sink);
// The floor of 4096-byte streaming: a ReadFile + WriteFile loop.
bool CopyLoop(const std::wstring& source, const std::wstring& target);
bool CopyWithSystem(const std::wstring& source, const std::wstring& target);

}  // namespace bench
