#include "bench_support.h"

#include <mapiutil.h>
#include <psapi.h>

#include <algorithm>
#include <vector>

#include "admin_lib.h"
#include "folder_index.h"
#include "store_layout.h"

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
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((directory + L"\\" + data.cFileName).c_str());
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

bool OpenProvider(const std::wstring& folder, Provider& out) {
  const std::wstring profiles = folder + L"\\profiles.ini";
  SetEnvironmentVariableW(L"KV_MAPI_PROFILES", profiles.c_str());
  provider::admin::ProfileRequest request;
  request.profile.name = kProfileName;
  provider::StoreConfig store;
  store.name = L"Mailbox";
  store.directory = folder + L"\\store";
  request.profile.stores.push_back(store);
  request.folders = {kFolderPath};
  std::wstring error;
  if (!provider::admin::CreateProfile(profiles, request, error)) return false;
  std::unique_ptr<provider::StoreLayout> layout;
  provider::FolderRecord record;
  if (provider::StoreLayout::Open(store.directory, layout) != provider::StoreResult::Ok ||
      layout->FindByPath(L"Postings", record) != provider::StoreResult::Ok)
    return false;
  out.folderDirectory = record.directory;
  if (FAILED(MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(kProfileName)), nullptr,
                         MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, out.session.put())))
    return false;
  kvcommon::UniqueInterface<IMAPITable> stores;
  if (FAILED(out.session->GetMsgStoresTable(0, stores.put()))) return false;
  LPSRowSet rows = nullptr;
  SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
  if (FAILED(HrQueryAllRows(stores.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows)))
    return false;
  SBinary id = rows->aRow[0].lpProps[0].Value.bin;
  HRESULT hr = out.session->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MDB_WRITE,
                                         out.store.put());
  FreeProws(rows);
  if (FAILED(hr)) return false;
  std::vector<uint8_t> folderId;
  {
    // The folder's entry identifier as its hierarchy row gives it.
    LPSPropValue top = nullptr;
    if (FAILED(HrGetOneProp(out.store.get(), PR_IPM_SUBTREE_ENTRYID, &top))) return false;
    kvcommon::UniqueInterface<IMAPIFolder> ipm;
    ULONG type = 0;
    hr = out.store->OpenEntry(top->Value.bin.cb, reinterpret_cast<LPENTRYID>(top->Value.bin.lpb), nullptr, 0, &type,
                              reinterpret_cast<LPUNKNOWN*>(ipm.put()));
    MAPIFreeBuffer(top);
    if (FAILED(hr)) return false;
    kvcommon::UniqueInterface<IMAPITable> children;
    if (FAILED(ipm->GetHierarchyTable(0, children.put()))) return false;
    if (FAILED(HrQueryAllRows(children.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows)))
      return false;
    SBinary child = rows->aRow[0].lpProps[0].Value.bin;
    folderId.assign(child.lpb, child.lpb + child.cb);
    FreeProws(rows);
  }
  ULONG type = 0;
  return SUCCEEDED(out.store->OpenEntry(static_cast<ULONG>(folderId.size()), reinterpret_cast<LPENTRYID>(folderId.data()),
                                       nullptr, MAPI_MODIFY, &type, reinterpret_cast<LPUNKNOWN*>(out.folder.put())));
}

void EmptyFolder(const Provider& provider) {
  DeleteFilesIn(provider::MessagesDirectory(provider.folderDirectory));
  DeleteFileW(provider::IndexPath(provider.folderDirectory).c_str());
}

}  // namespace bench
