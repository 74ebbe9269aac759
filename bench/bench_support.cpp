#include "bench_support.h"

#include <psapi.h>

#include <algorithm>
#include <vector>

namespace bench {

WorkingSetProbe g_probe;

double Seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void WorkingSetProbe::Sample() { peak_ = std::max(peak_, Current()); }

size_t WorkingSetProbe::Current() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

bool MakeSource(const std::wstring& path, uint64_t size) {
  kvcommon::UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  std::vector<BYTE> block(1u << 20);
  uint32_t state = 0x9E3779B9u ^ static_cast<uint32_t>(size);
  for (uint64_t done = 0; done < size; done += block.size()) {
    for (BYTE& b : block) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      b = static_cast<BYTE>(state);
    }
    const DWORD piece = static_cast<DWORD>(std::min<uint64_t>(block.size(), size - done));
    DWORD written = 0;
    if (!WriteFile(file.get(), block.data(), piece, &written, nullptr) || written != piece) return false;
  }
  return true;
}

void DeleteFilesIn(const std::wstring& directory) {
  WIN32_FIND_DATAW data;
  kvcommon::UniqueFind find(FindFirstFileW((directory + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      DeleteFileW((directory + L"\\" + name).c_str());
    else if (name != L"." && name != L"..")
      DeleteFilesIn(directory + L"\\" + name);
  } while (FindNextFileW(find.get(), &data));
}

Result Measure(int runs, const std::function<bool()>& run, const std::function<void()>& cleanUp) {
  Result best;
  for (int i = 0; i < runs; ++i) {
    cleanUp();
    g_probe.Reset();
    const double start = Seconds();
    const bool ok = run();
    const double elapsed = Seconds() - start;
    g_probe.Sample();
    if (!ok) return Result();
    if (!best.ok || elapsed < best.seconds) best.seconds = elapsed;
    best.peakWorkingSet = std::max(best.peakWorkingSet, g_probe.Peak());
    best.ok = true;
  }
  cleanUp();
  return best;
}

std::wstring WorkFolder(const std::wstring& given, const wchar_t* name) {
  std::wstring folder = given;
  if (folder.empty()) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder = std::wstring(temp) + name;
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

bool ForEachPiece(const std::wstring& source, const std::function<bool(const BYTE*, DWORD)>& sink) {
  kvcommon::UniqueFile file(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  BYTE buffer[kPiece];
  DWORD count = kPiece;
  for (unsigned pieces = 1; count == kPiece; ++pieces) {
    if (!ReadFile(file.get(), buffer, kPiece, &count, nullptr)) return false;
    if (count > 0 && !sink(buffer, count)) return false;
    if (pieces % 256 == 0) g_probe.Sample();  // every MiB
  }
  return true;
}

bool CopyLoop(const std::wstring& source, const std::wstring& target) {
  kvcommon::UniqueFile out(
      CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.valid()) return false;
  return ForEachPiece(source, [&out](const BYTE* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(out.get(), data, size, &written, nullptr) && written == size;
  });
}

bool CopyWithSystem(const std::wstring& source, const std::wstring& target) {
  return CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
}

}  // namespace bench
