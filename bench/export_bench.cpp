// What the module costs on top of the provider: the same files exported
// through kvhost (KV2FOLD.dll in a process of its own, timed by kvhost around
// its one KVEExportToDestinationW call), posted directly through the
// provider's interfaces by provider/client's posting (this program again, in a
// process of its own, with the session user as sender, timed like the
// export call from opening the store to releasing it; the two take turns,
// eight each), and copied with CopyFileW (best of 3); one file of 256 MiB
// and 1,000 files of 10 KiB. Then the resolution of a folder path five levels deep in a store
// with 2,000 sibling folders per level, through kvhost exporting no file.
// The small files also go through kvhost --ansi against kvhost, taking turns:
// what the narrow exports add.
//   export_bench [work folder] [--large-mib N] [--small-count N] [--siblings N] [--narrow-only]
// --narrow-only runs the narrow comparison alone.
// Prints times, ratios and peak working sets. The deep store is made once
// and kept in the work folder (making it takes a while).
#include <windows.h>

#include <mapix.h>
#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "admin_lib.h"
#include "bench_provider.h"
#include "bench_support.h"
#include "posting_client.h"

namespace {

using bench::Result;

// Runs of the provider alone and of kvhost, taking turns; even, so that each
// goes first as often as the other.
constexpr int kTurns = 8;

// What kvhost reports with --timing, and how long its process ran.
struct HostRun {
  bool ok = false;
  double setUp = 0, exported = 0, ended = 0, peakMiB = 0;
  double wall = 0;
};

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// Runs program (beside this one) in folder with arguments and reads its
// figures: kvhost's --timing line, or the line of this program's own
// --post-directly mode. Its output goes to a file read once it has ended,
// so that nothing else runs while it posts.
HostRun RunProgram(const wchar_t* program, const std::wstring& folder, const std::wstring& arguments) {
  HostRun run;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring outputPath = std::wstring(temp) + L"export_bench_output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  kvcommon::UniqueFile output(CreateFileW(outputPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_TEMPORARY, nullptr));
  if (!output) return run;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring commandLine = L"\"" + ProgramFolder() + program + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  const double start = bench::Seconds();
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                      &process))
    return run;
  kvcommon::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  run.wall = bench::Seconds() - start;
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  std::string out;
  char chunk[4096];
  DWORD read = 0;
  SetFilePointer(output.get(), 0, nullptr, FILE_BEGIN);
  while (ReadFile(output.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) out.append(chunk, read);
  output.reset();
  DeleteFileW(outputPath.c_str());
  size_t at = out.find("Timing: ");
  size_t direct = out.find("Direct: ");
  if (at != std::string::npos) {
    run.ok = std::sscanf(out.c_str() + at, "Timing: set-up %lf s, export %lf s, end %lf s; peak working set %lf MiB",
                         &run.setUp, &run.exported, &run.ended, &run.peakMiB) == 4;
  } else if (direct != std::string::npos) {
    run.ok = std::sscanf(out.c_str() + direct, "Direct: set-up %lf s, postings %lf s; peak working set %lf MiB",
                         &run.setUp, &run.exported, &run.peakMiB) == 3;
  }
  run.ok = run.ok && exitCode == 0;
  if (!run.ok) std::printf("%ls failed (exit %lu):\n%s\n", program, static_cast<unsigned long>(exitCode), out.c_str());
  return run;
}

HostRun RunKvhost(const std::wstring& folder, const std::wstring& arguments) {
  return RunProgram(L"kvhost.exe", folder, arguments);
}

// Keeps the faster run, and the largest peak of both.
void KeepBest(HostRun& best, const HostRun& run) {
  const double peak = std::max(best.peakMiB, run.peakMiB);
  if (!best.ok || run.exported < best.exported) best = run;
  best.peakMiB = peak;
}

// Best of runs of kvhost alone (its export call's time).
HostRun BestKvhost(int runs, const std::wstring& folder, const std::wstring& arguments,
                   const std::function<void()>& cleanUp) {
  HostRun best;
  for (int i = 0; i < runs; ++i) {
    cleanUp();
    HostRun run = RunKvhost(folder, arguments);
    if (!run.ok) return HostRun();
    KeepBest(best, run);
  }
  cleanUp();
  return best;
}

// The best run of each side, and the median of the measured side's time over
// the reference side's within a turn (less moved by a machine whose load
// changes).
struct Turns {
  HostRun reference, measured;
  double medianRatio = 0;
  double medianSetUpRatio = 0;  // the same for the job's set-up
  // With a copy taking part in each turn: its best, and the median of the
  // reference side's time over the copy's within a turn.
  double bestCopy = 0;
  double medianCopyRatio = 0;
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Two programs, each run in a process of its own (started the same way, so
// both begin with a fresh heap), one run of each in turn, each going first
// every other time, so that a machine that slows down or speeds up affects
// both alike.
Turns Alternate(int runs, const std::function<HostRun()>& reference, const std::function<HostRun()>& measured,
                const std::function<void()>& cleanUp, const std::function<double()>& copy = nullptr) {
  Turns turns;
  std::vector<double> ratios, setUpRatios, copyRatios;
  for (int i = 0; i < runs; ++i) {
    const double copied = copy ? copy() : 0;
    if (copy && copied > 0 && (turns.bestCopy == 0 || copied < turns.bestCopy)) turns.bestCopy = copied;
    HostRun first, second;
    for (int turn = 0; turn < 2; ++turn) {
      cleanUp();
      if ((turn + i) % 2 == 0) {
        first = reference();
      } else {
        second = measured();
      }
    }
    if (!first.ok || !second.ok) {
      turns = Turns();
      ratios.clear();
      setUpRatios.clear();
      break;
    }
    KeepBest(turns.reference, first);
    KeepBest(turns.measured, second);
    ratios.push_back(second.exported / first.exported);
    if (first.setUp > 0) setUpRatios.push_back(second.setUp / first.setUp);
    if (copied > 0) copyRatios.push_back(first.exported / copied);
  }
  cleanUp();
  turns.medianCopyRatio = Median(copyRatios);
  turns.medianRatio = Median(ratios);
  turns.medianSetUpRatio = Median(setUpRatios);
  return turns;
}

// The provider alone against kvhost.
Turns AlternateWithProvider(int runs, const std::wstring& workFolder, const std::wstring& sourceFolder,
                            const std::wstring& files, const std::wstring& exportTo,
                            const std::function<void()>& cleanUp, const std::function<double()>& copy) {
  return Alternate(
      runs,
      [&] { return RunProgram(L"export_bench.exe", sourceFolder, L"--post-directly \"" + workFolder + L"\"" + files); },
      [&] { return RunKvhost(sourceFolder, exportTo + files); }, cleanUp, copy);
}

bool PostDirectly(IMAPIFolder* folder, const bench::Sender& sender, const std::wstring& source,
                  const std::wstring& name) {
  posting_client::Posting posting;
  posting.postedName = name;
  posting.messageClass = L"IPM.DOCUMENT.*BIN";
  posting.sourcePath = source;
  // The sender the module gives its postings: the session's user.
  posting.withSender = true;
  posting.senderEntryId = sender.entryId;
  posting.senderName = sender.name;
  posting.senderSearchKey = sender.searchKey;
  posting.afterWrite = [](uint64_t written) {
    if (written % (1u << 20) == 0) bench::g_probe.Sample();
  };
  return SUCCEEDED(posting_client::PostThroughMapi(folder, posting));
}

double MiB(size_t bytes) { return static_cast<double>(bytes) / (1u << 20); }

// The copies before the turns are printed; the provider is set against the
// best copy of the turns, made under the same conditions as its runs.
void PrintSet(const char* title, const Result& copy, const Turns& turns, double goal) {
  const HostRun& direct = turns.reference;
  const HostRun& host = turns.measured;
  std::printf("%s\n", title);
  if (!copy.ok || turns.bestCopy <= 0 || !direct.ok || !host.ok) {
    std::printf("  failed\n");
    return;
  }
  std::printf("  %-40s %8.3f s                     peak working set %6.1f MiB (this program)\n",
              "CopyFileW, best of 3 before the turns", copy.seconds, MiB(copy.peakWorkingSet));
  std::printf("  %-40s %8.3f s\n", "CopyFileW, best of the turns", turns.bestCopy);
  std::printf("  %-40s %8.3f s  %5.2fx CopyFileW    peak working set %6.1f MiB (its process)\n",
              "provider alone, the module's calls", direct.exported, direct.exported / turns.bestCopy, direct.peakMiB);
  std::printf("  %-40s %8.3f s  %5.2fx provider     peak working set %6.1f MiB (kvhost)\n",
              "kvhost: KVEExportToDestinationW", host.exported, host.exported / direct.exported, host.peakMiB);
  std::printf("  %-40s %8s    %5.2fx provider\n", "  median of the turns", "", turns.medianRatio);
  std::printf("  %-40s %8.3f s  (set-up %.3f s, end %.3f s, the rest is starting the process)\n",
              "kvhost: the whole process", host.wall, host.setUp, host.ended);
  std::printf("  provider alone over CopyFileW: best of the turns %.2fx, median of the turns %.2fx (goal: at most %.2fx)\n",
              direct.exported / turns.bestCopy, turns.medianCopyRatio, goal);
}

// Wide against narrow: the export call and the set-up of each, best runs.
void PrintNarrow(const char* title, const Turns& turns) {
  const HostRun& wide = turns.reference;
  const HostRun& narrow = turns.measured;
  std::printf("%s\n", title);
  if (!wide.ok || !narrow.ok) {
    std::printf("  failed\n");
    return;
  }
  std::printf("  %-40s %8.3f s                     set-up %.3f s, peak working set %6.1f MiB\n",
              "kvhost: KVEExportToDestinationW", wide.exported, wide.setUp, wide.peakMiB);
  std::printf("  %-40s %8.3f s  %5.2fx wide         set-up %.3f s, peak working set %6.1f MiB\n",
              "kvhost --ansi: KVEExportToDestination", narrow.exported, narrow.exported / wide.exported, narrow.setUp,
              narrow.peakMiB);
  std::printf("  %-40s %8s    %5.2fx wide         set-up %5.2fx wide\n", "  median of the turns", "",
              turns.medianRatio, turns.medianSetUpRatio);
}

// --post-directly <work folder> <file>...: the postings of the files in the
// current folder through the provider alone, as the module makes them; prints
// the time of the postings and the peak working set. Timed like kvhost's
// export call: from opening the store and the folder to releasing them, the
// logon before.
int PostDirectlyAndReport(const std::wstring& workFolder, const std::vector<std::wstring>& files) {
  if (FAILED(MAPIInitialize(nullptr))) return 1;
  const double start = bench::Seconds();
  int exitCode = 1;
  {
    bench::Provider provider;
    bench::Sender sender;
    if (bench::LogOnProvider(workFolder, provider) && bench::ReadSender(provider.session.get(), sender)) {
      // Full paths, as kvhost hands them to the module.
      std::vector<std::wstring> paths;
      for (const std::wstring& file : files) {
        wchar_t full[MAX_PATH];
        const DWORD length = GetFullPathNameW(file.c_str(), MAX_PATH, full, nullptr);
        paths.push_back(length > 0 && length < MAX_PATH ? std::wstring(full, length) : file);
      }
      const double loggedOn = bench::Seconds();
      bool ok = bench::OpenPostingFolder(provider);
      for (size_t i = 0; ok && i < files.size(); ++i) ok = PostDirectly(provider.folder.get(), sender, paths[i], files[i]);
      provider.folder.reset();
      provider.store.reset();
      const double posted = bench::Seconds();
      PROCESS_MEMORY_COUNTERS counters = {};
      counters.cb = sizeof counters;
      GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
      if (ok) {
        std::printf("Direct: set-up %.6f s, postings %.6f s; peak working set %.3f MiB\n", loggedOn - start,
                    posted - loggedOn, MiB(counters.PeakWorkingSetSize));
        exitCode = 0;
      }
    }
  }
  MAPIUninitialize();
  return exitCode;
}

// The deep store: at each of five levels siblings folders "f0000"..., the
// last of which holds the next level. Made once; a marker says it is whole.
std::wstring DeepPath(int siblings) {
  std::wstring path = L"Deep";
  wchar_t name[16];
  swprintf(name, 16, L"f%04d", siblings - 1);
  for (int level = 0; level < 5; ++level) path += std::wstring(L"#") + name;
  return path;
}

bool MakeDeepStore(const std::wstring& folder, int siblings) {
  const std::wstring marker = folder + L"\\deep-" + std::to_wstring(siblings) + L".complete";
  provider::admin::ProfileRequest request;
  request.profile.name = L"Deep";
  provider::StoreConfig store;
  store.name = L"Deep";
  store.directory = folder + L"\\deep-" + std::to_wstring(siblings);
  request.profile.stores.push_back(store);
  const bool made = GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (!made) {
    std::wstring parent = L"Deep";
    wchar_t name[16];
    for (int level = 0; level < 5; ++level) {
      for (int i = 0; i < siblings; ++i) {
        swprintf(name, 16, L"f%04d", i);
        request.folders.push_back(parent + L"#" + name);
      }
      parent = request.folders.back();
    }
  }
  std::wstring error;
  const double start = bench::Seconds();
  if (!provider::admin::CreateProfile(folder + L"\\profiles.ini", request, error)) {
    std::printf("cannot make the deep store: %ls\n", error.c_str());
    return false;
  }
  if (!made) {
    std::printf("made the deep store (%d folders) in %.1f s\n", 5 * siblings, bench::Seconds() - start);
    kvcommon::UniqueFile(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  return true;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring folder;
  uint64_t largeMib = 256;
  int smallCount = 1000;
  int siblings = 2000;
  bool narrowOnly = false;
  for (int i = 1; args && i < count; ++i) {
    if (lstrcmpW(args[i], L"--narrow-only") == 0) {
      narrowOnly = true;
    } else if (lstrcmpW(args[i], L"--large-mib") == 0 && i + 1 < count) {
      largeMib = _wtoi(args[++i]);
    } else if (lstrcmpW(args[i], L"--small-count") == 0 && i + 1 < count) {
      smallCount = _wtoi(args[++i]);
    } else if (lstrcmpW(args[i], L"--siblings") == 0 && i + 1 < count) {
      siblings = std::max(1, _wtoi(args[++i]));
    } else {
      folder = args[i];
    }
  }
  if (args && count > 2 && lstrcmpW(args[1], L"--post-directly") == 0) {
    std::vector<std::wstring> files(args + 3, args + count);
    const std::wstring workFolder = args[2];
    LocalFree(args);
    return PostDirectlyAndReport(workFolder, files);
  }
  LocalFree(args);
  folder = bench::WorkFolder(folder, L"export_bench");
  const std::wstring sourceFolder = folder + L"\\sources";
  CreateDirectoryW(sourceFolder.c_str(), nullptr);
  // kvhost's own texts in English, so its timing line can be read.
  SetEnvironmentVariableW(L"KV_USER_LANGUAGE", L"0409");
  // The profile and the folder only: no session of this process holds the
  // store while the others post.
  bench::Provider provider;
  if (!bench::PrepareProvider(folder, provider)) {
    std::printf("cannot set up the provider in %ls\n", folder.c_str());
    return 1;
  }
  auto emptyFolder = [&] { bench::EmptyFolder(provider); };
  const std::wstring exportTo = std::wstring(L"--export --timing --profile ") + bench::kProfileName + L" --folder " +
                                bench::kFolderPath;
  std::printf("export_bench in %ls\n\n", folder.c_str());

  // One large file.
  Result largeCopy;
  Turns largeTurns;
  const std::wstring large = sourceFolder + L"\\large.bin";
  const std::wstring target = folder + L"\\copy.bin";
  if (narrowOnly) largeMib = 0;
  if (largeMib > 0) {
    if (!bench::MakeSource(large, largeMib << 20)) return 1;
    auto copyLarge = [&] { return CopyFileW(large.c_str(), target.c_str(), FALSE) != FALSE; };
    auto removeLarge = [&] { DeleteFileW(target.c_str()); };
    largeCopy = bench::Measure(3, copyLarge, removeLarge);
    largeTurns = AlternateWithProvider(kTurns, folder, sourceFolder, L" large.bin", exportTo, emptyFolder,
                                       [&] { return bench::Measure(1, copyLarge, removeLarge).seconds; });
    DeleteFileW(large.c_str());
  }

  // Many small files, named short so that a thousand fit one command line.
  std::vector<std::wstring> names;
  std::wstring nameList;
  for (int i = 0; i < smallCount; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"s%04d.bin", i);
    names.push_back(name);
    nameList += L" " + names.back();
    if (!bench::MakeSource(sourceFolder + L"\\" + name, 10u << 10)) return 1;
  }
  Result smallCopy;
  Turns smallTurns;
  if (!narrowOnly) {
    const std::wstring copies = folder + L"\\copies";
    CreateDirectoryW(copies.c_str(), nullptr);
    auto copySmall = [&] {
      for (const std::wstring& name : names) {
        if (!CopyFileW((sourceFolder + L"\\" + name).c_str(), (copies + L"\\" + name).c_str(), FALSE)) return false;
      }
      return true;
    };
    auto removeSmall = [&] { bench::DeleteFilesIn(copies); };
    smallCopy = bench::Measure(3, copySmall, removeSmall);
    smallTurns = AlternateWithProvider(kTurns, folder, sourceFolder, nameList, exportTo, emptyFolder,
                                       [&] { return bench::Measure(1, copySmall, removeSmall).seconds; });
  }
  // The same files through the narrow exports (kvhost --ansi) against the wide ones.
  const Turns narrowTurns = Alternate(
      kTurns, [&] { return RunKvhost(sourceFolder, exportTo + nameList); },
      [&] { return RunKvhost(sourceFolder, L"--ansi " + exportTo + nameList); }, emptyFolder);
  for (const std::wstring& name : names) DeleteFileW((sourceFolder + L"\\" + name).c_str());

  if (largeMib > 0) {
    PrintSet((std::to_string(largeMib) + " MiB file (CopyFileW best of 3, the postings best of " +
              std::to_string(kTurns) + ", one copy in each turn too)").c_str(), largeCopy, largeTurns, 1.3);
  }
  if (!narrowOnly) {
    PrintSet((std::to_string(smallCount) + " files of 10 KiB (CopyFileW best of 3, the postings best of " +
              std::to_string(kTurns) + ", one copy in each turn too)").c_str(), smallCopy, smallTurns, 1.5);
  }
  PrintNarrow((std::to_string(smallCount) + " files of 10 KiB through the narrow exports (best of " +
               std::to_string(kTurns) + " each)").c_str(), narrowTurns);

  // The deep path, resolved by the module with no file to post.
  HostRun deep;
  if (!narrowOnly && MakeDeepStore(folder, siblings)) {
    const std::wstring path = DeepPath(siblings);
    deep = BestKvhost(5, folder, L"--export --timing --profile Deep --folder \"" + path + L"\"", [] {});
    std::printf("path %ls (%d sibling folders per level, best of 5)\n", path.c_str(), siblings);
    if (deep.ok) {
      std::printf("  %-40s %8.3f s  (KVEExportToDestinationW of no file: resolve, open, release)\n",
                  "kvhost: the folder resolved", deep.exported);
    } else {
      std::printf("  failed\n");
    }
  }

  auto added = [](const Turns& turns) {
    return turns.measured.ok && turns.reference.ok ? 100.0 * (turns.measured.exported / turns.reference.exported - 1)
                                                   : 0.0;
  };
  if (!narrowOnly) {
    std::printf("\ngoals: the module adds at most 10%% over the provider alone: %+.1f%% (large), %+.1f%% (small), "
                "medians of the turns %+.1f%% and %+.1f%%; memory flat with file size: kvhost peak %.1f MiB (large) "
                "against %.1f MiB (small); the deep path under 50 ms: %.1f ms\n",
                added(largeTurns), added(smallTurns), 100.0 * (largeTurns.medianRatio - 1),
                100.0 * (smallTurns.medianRatio - 1), largeTurns.measured.peakMiB, smallTurns.measured.peakMiB,
                deep.ok ? 1000.0 * deep.exported : 0.0);
  }
  std::printf("%sgoal: the narrow layer adds at most 5%% to the export: %+.1f%% (best runs), median of the turns "
              "%+.1f%%; to the set-up: median of the turns %+.1f%%\n",
              narrowOnly ? "\n" : "", added(narrowTurns), 100.0 * (narrowTurns.medianRatio - 1),
              100.0 * (narrowTurns.medianSetUpRatio - 1));
  return 0;
}
