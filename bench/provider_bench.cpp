// How fast a posting through the provider's MAPI interfaces is, the way the
// module streams a file (4096-byte reads, each written on at once), against
// three references on the same files: CopyFileW; the floor that 4096-byte
// streaming allows (a plain loop of 4096-byte ReadFile and WriteFile calls);
// and the same posting written with the system's structured storage.
//   provider_bench [work folder] [--large-mib N] [--small-count N] [--no-system-storage]
//                  [--large-folder N] [--large-folder-files] [--big-folder N]
// Prints times, ratios and the largest working set seen during each run;
// CopyFileW and the posting take turns, and both the best of the turns and
// the median of the turns' ratios are printed.
// Then the contents table of a folder of a million messages (--large-folder,
// 0 leaves it out), opened in a process of its own; with --large-folder-files
// each message gets a file, and opening the folder for writing is timed too.
// Last, a posting into a folder of 100,000 message files against one into an
// empty folder (--big-folder, 0 leaves it out).
#include <windows.h>

#include <mapix.h>
#include <mapiutil.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <kvcommon/unique_resource.h>

#include "bench_provider.h"
#include "bench_support.h"
#include "large_folder.h"
#include "posting_client.h"

namespace {

using bench::CopyLoop;
using bench::CopyWithSystem;
using bench::ForEachPiece;
using bench::g_probe;
using bench::Measure;
using bench::Result;
using kvcommon::UniqueInterface;

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

bool PostThroughProvider(IMAPIFolder* folder, const std::wstring& source) {
  posting_client::Posting posting;
  posting.postedName = NameOf(source);
  posting.messageClass = L"IPM.DOCUMENT.BIN";
  posting.sourcePath = source;
  posting.afterWrite = [](uint64_t written) {
    if (written % (1u << 20) == 0) g_probe.Sample();
  };
  return SUCCEEDED(posting_client::PostThroughMapi(folder, posting));
}

// The same posting as a message file made with the system's structured
// storage: the property streams, the string values, the attachment's storage
// and its data written in 4096-byte pieces.
HRESULT AddStream(IStorage* storage, const wchar_t* name, const void* data, ULONG size) {
  UniqueInterface<IStream> stream;
  HRESULT hr = storage->CreateStream(name, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.put());
  if (SUCCEEDED(hr) && size) hr = stream->Write(data, size, nullptr);
  return hr;
}

void PutEntry(std::vector<BYTE>& properties, ULONG tag, uint64_t value) {
  BYTE entry[16] = {};
  memcpy(entry, &tag, 4);
  entry[4] = 6;
  memcpy(entry + 8, &value, 8);
  properties.insert(properties.end(), entry, entry + 16);
}

HRESULT AddText(IStorage* storage, std::vector<BYTE>& properties, ULONG tag, const std::wstring& text) {
  wchar_t name[32];
  swprintf(name, 32, L"__substg1.0_%08lX", static_cast<unsigned long>(tag));
  PutEntry(properties, tag, (text.size() + 1) * 2);
  return AddStream(storage, name, text.c_str(), static_cast<ULONG>(text.size() * 2));
}

bool PostWithSystemStorage(const std::wstring& source, const std::wstring& target) {
  UniqueInterface<IStorage> root;
  if (FAILED(StgCreateDocfile(target.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT, 0,
                              root.put())))
    return false;
  const CLSID message = {0x00020D0B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  root->SetClass(message);
  const std::wstring name = NameOf(source);
  std::vector<BYTE> properties(32, 0);
  properties[12] = 1;  // next attachment id
  properties[20] = 1;  // attachment count
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t time = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  bool ok = SUCCEEDED(AddText(root.get(), properties, PR_SUBJECT_W, name)) &&
            SUCCEEDED(AddText(root.get(), properties, PR_MESSAGE_CLASS_W, L"IPM.DOCUMENT.BIN")) &&
            SUCCEEDED(AddText(root.get(), properties, PR_CONVERSATION_TOPIC_W, name));
  PutEntry(properties, PR_CLIENT_SUBMIT_TIME, time);
  PutEntry(properties, PR_MESSAGE_DELIVERY_TIME, time);
  PutEntry(properties, PR_SENSITIVITY, 0);
  PutEntry(properties, PR_IMPORTANCE, 1);
  PutEntry(properties, PR_MESSAGE_FLAGS, MSGFLAG_HASATTACH);
  PutEntry(properties, PR_STORE_SUPPORT_MASK, 0x00040000);
  ok = ok && SUCCEEDED(AddStream(root.get(), L"__properties_version1.0", properties.data(),
                                 static_cast<ULONG>(properties.size())));
  UniqueInterface<IStorage> named;
  ok = ok && SUCCEEDED(root->CreateStorage(L"__nameid_version1.0", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                           0, 0, named.put()));
  for (const wchar_t* stream : {L"__substg1.0_00020102", L"__substg1.0_00030102", L"__substg1.0_00040102"})
    ok = ok && SUCCEEDED(AddStream(named.get(), stream, nullptr, 0));
  UniqueInterface<IStorage> attachment;
  ok = ok && SUCCEEDED(root->CreateStorage(L"__attach_version1.0_#00000000",
                                           STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, attachment.put()));
  if (!ok) return false;
  std::vector<BYTE> attachmentProperties(8, 0);
  ok = SUCCEEDED(AddText(attachment.get(), attachmentProperties, PR_ATTACH_LONG_FILENAME_W, name)) &&
       SUCCEEDED(AddText(attachment.get(), attachmentProperties, PR_DISPLAY_NAME_W, name));
  PutEntry(attachmentProperties, PR_ATTACH_METHOD, ATTACH_BY_VALUE);
  PutEntry(attachmentProperties, PR_ATTACH_NUM, 0);
  UniqueInterface<IStream> data;
  ok = ok && SUCCEEDED(attachment->CreateStream(L"__substg1.0_37010102",
                                                STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, data.put()));
  uint64_t size = 0;
  ok = ok && ForEachPiece(source, [&data, &size](const BYTE* bytes, DWORD count) {
         size += count;
         return SUCCEEDED(data->Write(bytes, count, nullptr));
       });
  data.reset();
  PutEntry(attachmentProperties, PR_ATTACH_DATA_BIN, size);
  ok = ok && SUCCEEDED(AddStream(attachment.get(), L"__properties_version1.0", attachmentProperties.data(),
                                 static_cast<ULONG>(attachmentProperties.size())));
  attachment.reset();
  return ok && SUCCEEDED(root->Commit(STGC_DEFAULT));
}

void Print(const char* what, const Result& r, double floor, double copy) {
  if (!r.ok) {
    std::printf("  %-38s failed\n", what);
    return;
  }
  std::printf("  %-38s %8.3f s  %6.2fx floor  %6.2fx CopyFileW  peak working set %6.1f MiB\n", what, r.seconds,
              r.seconds / floor, r.seconds / copy, static_cast<double>(r.peakWorkingSet) / (1u << 20));
}

struct Options {
  std::wstring folder;
  bool systemStorage = true;
  uint64_t largeMib = 256;
  int smallCount = 1000;
  uint32_t largeFolder = 1000000;
  bool largeFolderFiles = false;
  uint32_t bigFolder = 100000;
};

constexpr int kTurns = 7;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// CopyFileW and the posting in turns, each going first as often as the
// other: the best of each and the median of the turns' ratios.
struct Compared {
  Result copy, posted;
  double medianRatio = 0;
};
Compared InTurns(const std::function<bool()>& copy, const std::function<void()>& removeCopies,
                 const std::function<bool()>& post, const std::function<void()>& emptyFolder) {
  Compared out;
  std::vector<double> ratios;
  for (int turn = 0; turn < kTurns; ++turn) {
    Result copied, posted;
    if (turn % 2 == 0) {
      copied = Measure(1, copy, removeCopies);
      posted = Measure(1, post, emptyFolder);
    } else {
      posted = Measure(1, post, emptyFolder);
      copied = Measure(1, copy, removeCopies);
    }
    if (!copied.ok || !posted.ok) return Compared();
    ratios.push_back(posted.seconds / copied.seconds);
    for (auto pair : {std::make_pair(&out.copy, &copied), std::make_pair(&out.posted, &posted)}) {
      Result& best = *pair.first;
      if (!best.ok || pair.second->seconds < best.seconds) best.seconds = pair.second->seconds;
      best.peakWorkingSet = std::max(best.peakWorkingSet, pair.second->peakWorkingSet);
      best.ok = true;
    }
  }
  out.medianRatio = Median(ratios);
  return out;
}

void PrintTurns(const Compared& compared, double goal) {
  std::printf("  posting over CopyFileW: best of %d turns %.2fx, median of the turns %.2fx (goal: at most %.2fx)\n",
              kTurns, compared.posted.seconds / compared.copy.seconds, compared.medianRatio, goal);
}

Options ReadOptions(int count, wchar_t** args) {
  Options options;
  for (int i = 1; args && i < count; ++i) {
    if (lstrcmpW(args[i], L"--large-folder") == 0 && i + 1 < count) {
      options.largeFolder = static_cast<uint32_t>(_wtoi(args[++i]));
    } else if (lstrcmpW(args[i], L"--big-folder") == 0 && i + 1 < count) {
      options.bigFolder = static_cast<uint32_t>(_wtoi(args[++i]));
    } else if (lstrcmpW(args[i], L"--large-folder-files") == 0) {
      options.largeFolderFiles = true;
    } else if (lstrcmpW(args[i], L"--no-system-storage") == 0) {
      options.systemStorage = false;
    } else if (lstrcmpW(args[i], L"--large-mib") == 0 && i + 1 < count) {
      options.largeMib = _wtoi(args[++i]);
    } else if (lstrcmpW(args[i], L"--small-count") == 0 && i + 1 < count) {
      options.smallCount = _wtoi(args[++i]);
    } else {
      options.folder = args[i];
    }
  }
  return options;
}

// One large file: the references, then the posting. Answers the posting's
// time over the floor's, 0 on failure.
double LargeFile(const Options& options, const bench::Provider& provider) {
  const std::wstring target = options.folder + L"\\target.bin";
  const std::wstring large = options.folder + L"\\large.bin";
  auto removeTarget = [&target] { DeleteFileW(target.c_str()); };
  if (!bench::MakeSource(large, options.largeMib << 20)) return 0;
  const Result floor = Measure(3, [&] { return CopyLoop(large, target); }, removeTarget);
  // The posting's own reading, which the module does too and no store can
  // save it: the file in 4096-byte ReadFile calls, going nowhere.
  const Result reading =
      Measure(3, [&] { return bench::ForEachPiece(large, [](const BYTE*, DWORD) { return true; }); }, [] {});
  const Compared compared = InTurns([&] { return CopyWithSystem(large, target); }, removeTarget,
                                    [&] { return PostThroughProvider(provider.folder.get(), large); },
                                    [&] { bench::EmptyFolder(provider); });
  const Result& copy = compared.copy;
  const Result& posted = compared.posted;
  // The system's structured storage last: it is by far the slowest.
  Result system;
  if (options.systemStorage) system = Measure(1, [&] { return PostWithSystemStorage(large, target); }, removeTarget);
  DeleteFileW(large.c_str());
  std::printf("%llu MiB file, posted in 4096-byte stream writes (floor: best of 3; CopyFileW and posting: best of %d turns)\n",
              static_cast<unsigned long long>(options.largeMib), kTurns);
  Print("ReadFile + WriteFile, 4096 bytes (floor)", floor, floor.seconds, copy.seconds);
  Print("CopyFileW", copy, floor.seconds, copy.seconds);
  Print("reading alone, 4096 bytes at a time", reading, floor.seconds, copy.seconds);
  Print("posting through the provider", posted, floor.seconds, copy.seconds);
  if (options.systemStorage) Print("posting with structured storage (once)", system, floor.seconds, copy.seconds);
  if (posted.ok) PrintTurns(compared, 1.3);
  return posted.ok && copy.ok ? posted.seconds / copy.seconds : 0;
}

// Many small files. Answers the postings' time over CopyFileW's, 0 on failure.
double SmallFiles(const Options& options, const bench::Provider& provider) {
  const int smallCount = options.smallCount;
  std::vector<std::wstring> sources;
  for (int i = 0; i < smallCount; ++i) {
    sources.push_back(options.folder + L"\\small_" + std::to_wstring(i) + L".bin");
    if (!bench::MakeSource(sources.back(), 10u << 10)) return 0;
  }
  // The copies in a directory of their own, so that their directory holds
  // no more files than the postings' folder does.
  const std::wstring copies = options.folder + L"\\copies";
  CreateDirectoryW(copies.c_str(), nullptr);
  auto target = [&copies](int i) { return copies + L"\\copy_" + std::to_wstring(i) + L".bin"; };
  auto removeCopies = [&] {
    for (int i = 0; i < smallCount; ++i) DeleteFileW(target(i).c_str());
  };
  auto each = [&](const std::function<bool(int)>& one) {
    return [&, one] {
      for (int i = 0; i < smallCount; ++i)
        if (!one(i)) return false;
      return true;
    };
  };
  const Result floor = Measure(3, each([&](int i) { return CopyLoop(sources[i], target(i)); }), removeCopies);
  const Compared compared =
      InTurns(each([&](int i) { return CopyWithSystem(sources[i], target(i)); }), removeCopies,
              each([&](int i) { return PostThroughProvider(provider.folder.get(), sources[i]); }),
              [&] { bench::EmptyFolder(provider); });
  const Result& copy = compared.copy;
  const Result& posted = compared.posted;
  Result system;
  if (options.systemStorage) {
    system = Measure(1, each([&](int i) { return PostWithSystemStorage(sources[i], target(i) + L".msg"); }), [&] {
      for (int i = 0; i < smallCount; ++i) DeleteFileW((target(i) + L".msg").c_str());
    });
  }
  for (const std::wstring& source : sources) DeleteFileW(source.c_str());
  std::printf("%d files of 10 KiB, one posting each (floor: best of 3; CopyFileW and posting: best of %d turns)\n",
              smallCount, kTurns);
  Print("ReadFile + WriteFile, 4096 bytes (floor)", floor, floor.seconds, copy.seconds);
  Print("CopyFileW", copy, floor.seconds, copy.seconds);
  Print("posting through the provider", posted, floor.seconds, copy.seconds);
  if (options.systemStorage) Print("posting with structured storage (once)", system, floor.seconds, copy.seconds);
  if (posted.ok) PrintTurns(compared, 1.5);
  return posted.ok && copy.ok ? posted.seconds / copy.seconds : 0;
}

bool Postings(const Options& options) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) || FAILED(MAPIInitialize(nullptr))) return false;
  bool ok = false;
  {
    bench::Provider provider;
    if (!bench::OpenProvider(options.folder, provider)) {
      std::printf("cannot set up the provider in %ls\n", options.folder.c_str());
    } else {
      const double large = options.largeMib > 0 ? LargeFile(options, provider) : 0;
      const double small = SmallFiles(options, provider);
      if (options.largeMib > 0)
        std::printf("goals (best of the turns): large posting %.2fx CopyFileW (at most 1.30), small postings %.2fx "
                    "CopyFileW (at most 1.50)\n",
                    large, small);
      ok = small > 0 && (options.largeMib == 0 || large > 0);
    }
  }
  MAPIUninitialize();
  CoUninitialize();
  return ok;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args && count == 4 && lstrcmpW(args[1], L"--measure-big-folder") == 0)
    return bench::MeasureBigFolder(args[2], static_cast<uint32_t>(_wtoi(args[3])));
  if (args && count == 5 && lstrcmpW(args[1], L"--measure-large-folder") == 0)
    return bench::MeasureLargeFolder(args[2], static_cast<uint32_t>(_wtoi(args[3])), _wtoi(args[4]) != 0);
  Options options = ReadOptions(count, args);
  LocalFree(args);
  options.folder = bench::WorkFolder(options.folder, L"provider_bench");
  if (!Postings(options)) return 1;
  if (options.largeFolder > 0 &&
      (!bench::MakeLargeFolder(options.folder, options.largeFolder, options.largeFolderFiles) ||
       !bench::MeasureLargeFolderApart(options.folder, options.largeFolder, options.largeFolderFiles))) {
    std::printf("the folder of %lu messages failed\n", static_cast<unsigned long>(options.largeFolder));
    return 1;
  }
  if (options.bigFolder > 0 && (!bench::MakeBigFolder(options.folder, options.bigFolder) ||
                                !bench::MeasureBigFolderApart(options.folder, options.bigFolder))) {
    std::printf("the postings into a folder of %lu messages failed\n", static_cast<unsigned long>(options.bigFolder));
    return 1;
  }
  return 0;
}
