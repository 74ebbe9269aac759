// How fast the message file writer stores a large attachment, against
// copying the same bytes: CopyFileW, a plain 4096-byte ReadFile + WriteFile
// loop (the floor any posting has to pay), and the system's structured
// storage. Also 1,000 small postings against CopyFileW of 1,000 files.
//   msgfile_bench [work folder] [--no-system-storage] [--small-only]
// Prints times, ratios and the largest working set seen during each run.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <mapidefs.h>
#include <mapitags.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <kvcommon/unique_resource.h>
#include <msgfile/message_reader.h>
#include <msgfile/message_writer.h>

#include "bench_support.h"

namespace {

using bench::CopyLoop;
using bench::CopyWithSystem;
using bench::ForEachPiece;
using bench::g_probe;
using bench::kPiece;
using bench::MakeSource;
using bench::Measure;
using bench::Result;
using kvcommon::UniqueInterface;

constexpr ULONG kAttachData = PROP_TAG(PT_BINARY, 0x3701);

// A posting as the provider will make it: message and attachment properties,
// then the file's bytes streamed into the attachment.
bool PostWithWriter(const std::wstring& source, const std::wstring& target, unsigned version) {
  using msgfile::ObjectRef;
  msgfile::MessageWriter writer;
  if (FAILED(writer.Create(target.c_str(), version))) return false;
  auto text = [](ULONG tag, const wchar_t* value) {
    SPropValue p = {};
    p.ulPropTag = tag;
    p.Value.lpszW = const_cast<wchar_t*>(value);
    return p;
  };
  SPropValue method = {};
  method.ulPropTag = PR_ATTACH_METHOD;
  method.Value.l = ATTACH_BY_VALUE;
  ULONG attachment = 0;
  bool ok = SUCCEEDED(writer.SetProperty(ObjectRef::Message(), text(PR_SUBJECT_W, L"report.pdf"))) &&
            SUCCEEDED(writer.SetProperty(ObjectRef::Message(), text(PR_MESSAGE_CLASS_W, L"IPM.DOCUMENT.PDF"))) &&
            SUCCEEDED(writer.CreateAttachment(&attachment)) &&
            SUCCEEDED(writer.SetProperty(ObjectRef::Attachment(attachment),
                                         text(PR_ATTACH_LONG_FILENAME_W, L"report.pdf"))) &&
            SUCCEEDED(writer.SetProperty(ObjectRef::Attachment(attachment), method)) &&
            SUCCEEDED(writer.BeginValueStream(ObjectRef::Attachment(attachment), kAttachData));
  ok = ok && ForEachPiece(source, [&writer](const BYTE* data, DWORD size) {
         return SUCCEEDED(writer.WriteValueStream(data, size));
       });
  return ok && SUCCEEDED(writer.EndValueStream()) && SUCCEEDED(writer.Finish());
}

bool WriteWithSystemStorage(const std::wstring& source, const std::wstring& target) {
  UniqueInterface<IStorage> root;
  if (FAILED(StgCreateDocfile(target.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT, 0,
                              root.put()))) {
    return false;
  }
  UniqueInterface<IStream> stream;
  if (FAILED(root->CreateStream(L"__substg1.0_37010102", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                stream.put()))) {
    return false;
  }
  const bool ok = ForEachPiece(source, [&stream](const BYTE* data, DWORD size) {
    ULONG written = 0;
    return SUCCEEDED(stream->Write(data, size, &written)) && written == size;
  });
  stream.reset();
  return ok && SUCCEEDED(root->Commit(STGC_DEFAULT));
}

// The admin tool's way out: the attachment read back in 4096-byte pieces.
bool ReadBackWithReader(const std::wstring& path, uint64_t expectedBytes) {
  msgfile::MessageReader reader;
  msgfile::StreamReader data;
  if (FAILED(reader.Open(path.c_str())) ||
      FAILED(reader.OpenValueStream(msgfile::ObjectRef::Attachment(0), kAttachData, &data))) {
    return false;
  }
  BYTE buffer[kPiece];
  uint64_t total = 0;
  for (unsigned pieces = 1;; ++pieces) {
    size_t read = 0;
    if (FAILED(data.Read(buffer, sizeof buffer, &read))) return false;
    if (read == 0) break;
    total += read;
    if (pieces % 256 == 0) g_probe.Sample();
  }
  return total == expectedBytes;
}

bool PlainReadLoop(const std::wstring& source) {
  return ForEachPiece(source, [](const BYTE*, DWORD) { return true; });
}

void Print(const char* what, const Result& r, double floor, double copy) {
  if (!r.ok) {
    std::printf("  %-34s failed\n", what);
    return;
  }
  char versusCopy[32] = "";
  if (copy > 0) std::snprintf(versusCopy, sizeof versusCopy, "  %5.2fx CopyFileW", r.seconds / copy);
  std::printf("  %-34s %8.3f s  %5.2fx floor%s  peak working set %6.1f MiB\n", what, r.seconds, r.seconds / floor,
              versusCopy, static_cast<double>(r.peakWorkingSet) / (1u << 20));
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring folder;
  bool systemStorage = true;
  bool largeToo = true;
  for (int i = 1; args && i < count; ++i) {
    if (lstrcmpW(args[i], L"--no-system-storage") == 0) {
      systemStorage = false;
    } else if (lstrcmpW(args[i], L"--small-only") == 0) {
      largeToo = false;
    } else {
      folder = args[i];
    }
  }
  LocalFree(args);
  folder = bench::WorkFolder(folder, L"msgfile_bench");
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const std::wstring target = folder + L"\\target.bin";
  auto removeTarget = [&target] { DeleteFileW(target.c_str()); };

  // The system's structured storage runs last: after it, this process
  // writes small files markedly slower, which would blur the other figures.
  struct Large {
    uint64_t mib;
    std::wstring source;
    Result floor, copy, v3, v4, system, readLoop, readBack;
  };
  std::vector<Large> large;
  if (largeToo) large = {{64, folder + L"\\source_64.bin", {}, {}, {}, {}, {}, {}, {}},
                         {256, folder + L"\\source_256.bin", {}, {}, {}, {}, {}, {}, {}}};
  for (Large& l : large) {
    if (!MakeSource(l.source, l.mib << 20)) {
      std::printf("cannot write %ls\n", l.source.c_str());
      return 1;
    }
    l.floor = Measure(3, [&] { return CopyLoop(l.source, target); }, removeTarget);
    l.copy = Measure(3, [&] { return CopyWithSystem(l.source, target); }, removeTarget);
    l.v3 = Measure(3, [&] { return PostWithWriter(l.source, target, 3); }, removeTarget);
    l.v4 = Measure(3, [&] { return PostWithWriter(l.source, target, 4); }, removeTarget);
    l.readLoop = Measure(3, [&] { return PlainReadLoop(l.source); }, [] {});
    if (PostWithWriter(l.source, target, 3)) {
      l.readBack = Measure(3, [&] { return ReadBackWithReader(target, l.mib << 20); }, [] {});
    }
    removeTarget();
    if (!l.floor.ok || !l.copy.ok || !l.readLoop.ok) {
      std::printf("the reference copies failed\n");
      return 1;
    }
  }

  // Many small postings: 1,000 files of 10 KiB.
  constexpr int kFiles = 1000;
  std::vector<std::wstring> sources;
  for (int i = 0; i < kFiles; ++i) {
    sources.push_back(folder + L"\\small_" + std::to_wstring(i) + L".bin");
    if (!MakeSource(sources.back(), 10u << 10)) return 1;
  }
  auto smallTarget = [&folder](int i) { return folder + L"\\out_" + std::to_wstring(i) + L".msg"; };
  auto removeAll = [&] {
    for (int i = 0; i < kFiles; ++i) DeleteFileW(smallTarget(i).c_str());
  };
  const Result floor = Measure(3, [&] {
    for (int i = 0; i < kFiles; ++i) {
      if (!CopyLoop(sources[i], smallTarget(i))) return false;
    }
    return true;
  }, removeAll);
  const Result copy = Measure(3, [&] {
    for (int i = 0; i < kFiles; ++i) {
      if (!CopyWithSystem(sources[i], smallTarget(i))) return false;
    }
    return true;
  }, removeAll);
  const Result posted = Measure(3, [&] {
    for (int i = 0; i < kFiles; ++i) {
      if (!PostWithWriter(sources[i], smallTarget(i), 3)) return false;
    }
    return true;
  }, removeAll);
  for (const std::wstring& source : sources) DeleteFileW(source.c_str());

  for (Large& l : large) {
    if (systemStorage) l.system = Measure(1, [&] { return WriteWithSystemStorage(l.source, target); }, removeTarget);
    DeleteFileW(l.source.c_str());
    std::printf("%llu MiB attachment, 4096-byte pieces (best of 3)\n", static_cast<unsigned long long>(l.mib));
    Print("ReadFile + WriteFile loop (floor)", l.floor, l.floor.seconds, l.copy.seconds);
    Print("CopyFileW", l.copy, l.floor.seconds, l.copy.seconds);
    Print("message writer, 512-byte sectors", l.v3, l.floor.seconds, l.copy.seconds);
    Print("message writer, 4096-byte sectors", l.v4, l.floor.seconds, l.copy.seconds);
    if (systemStorage) Print("StgCreateDocfile + IStream::Write", l.system, l.floor.seconds, l.copy.seconds);
    std::printf("  reading the attachment back; here the floor is a 4096-byte ReadFile loop of the source:\n");
    Print("ReadFile loop", l.readLoop, l.readLoop.seconds, 0);
    Print("message reader, 512-byte sectors", l.readBack, l.readLoop.seconds, 0);
  }
  std::printf("%d attachments of 10 KiB, one file each (best of 3)\n", kFiles);
  Print("ReadFile + WriteFile loop (floor)", floor, floor.seconds, copy.seconds);
  Print("CopyFileW", copy, floor.seconds, copy.seconds);
  Print("message writer, 512-byte sectors", posted, floor.seconds, copy.seconds);
  RemoveDirectoryW(folder.c_str());
  CoUninitialize();
  return 0;
}
