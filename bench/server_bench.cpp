// Postings into a store on an IMAP server, as provider/client makes them
// (4096-byte stream writes of a file, then SaveChanges: the spool read back
// as one MIME message into one APPEND), in a process of their own so the
// peak working set is theirs. bench/server_bench.sh runs it against Dovecot,
// plain and over TLS, beside a raw-socket APPEND of the same messages.
//   server_bench --profile P --password X --folder NAME [--large-mib N | --large-bytes N | --count N --kib K]
//                [--runs N] [work folder]
// Prints one line: messages, bytes, the best run's seconds, the working set
// before the postings and at its peak.
#include <windows.h>

#include <mapix.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_provider.h"
#include "bench_support.h"
#include "posting_client.h"

namespace {

struct Options {
  std::wstring profile, password, folder, work;
  uint64_t largeBytes = 0;
  unsigned count = 1;
  unsigned kib = 10;
  unsigned runs = 3;
};

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}

int Run(const Options& options) {
  const std::wstring work = bench::WorkFolder(options.work, L"kv2fold-server-bench");
  const uint64_t size = options.largeBytes ? options.largeBytes : uint64_t{options.kib} << 10;
  const unsigned count = options.largeBytes ? 1 : options.count;
  const std::wstring source = work + L"\\source.bin";
  if (!bench::MakeSource(source, size)) return std::fprintf(stderr, "server_bench: no source file\n"), 1;
  if (FAILED(MAPIInitialize(nullptr))) return 1;
  bench::Provider provider;
  HRESULT hr = MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(options.profile.c_str())),
                           reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(options.password.c_str())),
                           MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, provider.session.put());
  if (FAILED(hr) || !bench::OpenPostingFolder(provider, options.folder)) {
    std::fprintf(stderr, "server_bench: cannot log on or open the folder (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  const size_t before = Memory().WorkingSetSize;
  posting_client::Posting posting;
  posting.messageClass = L"IPM.DOCUMENT.BIN";
  posting.sourcePath = source;
  double seconds = 0;
  for (unsigned run = 0; run < options.runs; ++run) {
    const double start = bench::Seconds();
    for (unsigned i = 0; i < count; ++i) {
      posting.postedName = L"bench " + std::to_wstring(i) + L".bin";
      hr = posting_client::PostThroughMapi(provider.folder.get(), posting);
      if (FAILED(hr))
        return std::fprintf(stderr, "server_bench: posting %u failed (0x%08lX)\n", i, static_cast<unsigned long>(hr)), 1;
    }
    const double taken = bench::Seconds() - start;
    if (run == 0 || taken < seconds) seconds = taken;
  }
  const size_t peak = Memory().PeakWorkingSetSize;
  provider = bench::Provider();
  MAPIUninitialize();
  DeleteFileW(source.c_str());
  std::printf("%u x %.2f MiB in %.3f s (best of %u); working set %.1f MiB after logon, peak %.1f MiB\n", count,
              static_cast<double>(size) / (1 << 20), seconds, options.runs, static_cast<double>(before) / (1 << 20),
              static_cast<double>(peak) / (1 << 20));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const wchar_t* value = i + 1 < argc ? argv[i + 1] : L"";
    if (arg == L"--profile") options.profile = value, ++i;
    else if (arg == L"--password") options.password = value, ++i;
    else if (arg == L"--folder") options.folder = value, ++i;
    else if (arg == L"--large-mib") options.largeBytes = wcstoull(value, nullptr, 10) << 20, ++i;
    else if (arg == L"--large-bytes") options.largeBytes = wcstoull(value, nullptr, 10), ++i;
    else if (arg == L"--count") options.count = static_cast<unsigned>(wcstoul(value, nullptr, 10)), ++i;
    else if (arg == L"--kib") options.kib = static_cast<unsigned>(wcstoul(value, nullptr, 10)), ++i;
    else if (arg == L"--runs") options.runs = static_cast<unsigned>(wcstoul(value, nullptr, 10)), ++i;
    else options.work = arg;
  }
  if (options.profile.empty() || options.folder.empty()) {
    std::fprintf(stderr, "usage: server_bench --profile P --password X --folder NAME [--large-mib N | --large-bytes N | --count N --kib K]"
                         " [--runs N] [work folder]\n");
    return 2;
  }
  return Run(options);
}
