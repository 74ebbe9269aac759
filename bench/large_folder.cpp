#include "large_folder.h"

#include <windows.h>

#include <mapiutil.h>
#include <mapix.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <kvcommon/mapi_owners.h>
#include <kvcommon/unique_resource.h>
#include <kvprovider/diagnostics.h>
#include <msgfile/message_writer.h>

#include "admin_lib.h"
#include "bench_support.h"
#include "files.h"
#include "folder_repair.h"
#include "message_files.h"
#include "posting_client.h"
#include "bench_provider.h"
#include "store_layout.h"

namespace bench {
namespace {

using kvcommon::UniqueInterface;

constexpr wchar_t kProfile[] = L"Large";
constexpr uint32_t kBatch = 20000;
constexpr uint32_t kLinksPerFile = 60000;  // the file system allows 65,000 links to one file

std::wstring LargeDirectory(const std::wstring& work) { return work + L"\\large"; }
std::wstring ProfilesPath(const std::wstring& work) { return LargeDirectory(work) + L"\\profiles.ini"; }

bool PrepareStore(const std::wstring& work, provider::FolderRecord& folder) {
  CreateDirectoryW(LargeDirectory(work).c_str(), nullptr);
  provider::admin::ProfileRequest request;
  request.profile.name = kProfile;
  request.profile.userName = L"Erika Mustermann";
  provider::StoreConfig store;
  store.name = L"Mailbox";
  store.directory = LargeDirectory(work) + L"\\store";
  request.profile.stores.push_back(store);
  request.folders = {L"Mailbox#Large"};
  std::wstring error;
  std::unique_ptr<provider::StoreLayout> layout;
  return provider::admin::CreateProfile(ProfilesPath(work), request, error) &&
         provider::StoreLayout::Open(store.directory, layout) == provider::StoreResult::Ok &&
         layout->FindByPath(L"Large", folder) == provider::StoreResult::Ok;
}

// What the index keeps of the i-th posting the module would make.
provider::IndexEntry PostingEntry(uint32_t i) {
  const int64_t posted = 133500000000000000ll + static_cast<int64_t>(i) * 10000000;  // one a second, from 2024
  wchar_t subject[64];
  swprintf(subject, 64, L"Quarterly report %07lu.pdf", static_cast<unsigned long>(i));
  const std::vector<provider::Value> values = {
      provider::Value::Text(PR_SUBJECT_W, subject),
      provider::Value::Text(PR_MESSAGE_CLASS_W, L"IPM.DOCUMENT.PDF"),
      provider::Value::Long(PR_CLIENT_SUBMIT_TIME, posted),
      provider::Value::Long(PR_MESSAGE_DELIVERY_TIME, posted),
      provider::Value::Text(PR_SENDER_NAME_W, L"Erika Mustermann"),
      provider::Value::Long(PR_IMPORTANCE, IMPORTANCE_NORMAL),
      provider::Value::Long(PR_CREATION_TIME, posted),
      provider::Value::Long(PR_LAST_MODIFICATION_TIME, posted)};
  return provider::MakeIndexEntry(provider::NewMessageId(i), false, values, 52224 + i % 4096, true,
                                  MSGFLAG_READ | MSGFLAG_HASATTACH);
}

// One small message file that the messages' files link to.
bool MakeTemplate(const std::wstring& path) {
  DeleteFileW(path.c_str());
  msgfile::MessageWriter writer;
  return SUCCEEDED(writer.Create(path.c_str())) &&
         SUCCEEDED(writer.SetProperty(msgfile::ObjectRef::Message(),
                                      msgfile::UnicodeProperty(PR_SUBJECT_W, L"Quarterly report.pdf"))) &&
         SUCCEEDED(writer.Finish());
}

// Removes a folder's message directories whole, buckets included.
void RemoveMessageDirectories(const std::wstring& directory) {
  WIN32_FIND_DATAW data;
  kvcommon::UniqueFind find(FindFirstFileW((directory + L"\\*").c_str(), &data));
  for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &data) != FALSE) {
    const std::wstring name = data.cFileName;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      DeleteFileW((directory + L"\\" + name).c_str());
    else if (name != L"." && name != L"..")
      RemoveMessageDirectories(directory + L"\\" + name);
  }
  find.reset();
  RemoveDirectoryW(directory.c_str());
}

// Gives a folder count messages like the module's postings: index lines
// through the store layer and, withFiles, a file for each in its bucket (a
// hard link to one of a few small message files kept in templates).
bool FillFolder(const std::wstring& templates, const std::wstring& folderDirectory, uint32_t count, bool withFiles) {
  RemoveMessageDirectories(provider::MessagesDirectory(folderDirectory));
  DeleteFileW(provider::IndexPath(folderDirectory).c_str());
  std::wstring sample;
  provider::IndexWriter writer(folderDirectory);
  if (writer.Begin() != provider::StoreResult::Ok) return false;
  for (uint32_t first = 0; first < count; first += kBatch) {
    std::vector<provider::IndexEntry> entries;
    for (uint32_t i = first; i < count && i < first + kBatch; ++i) {
      entries.push_back(PostingEntry(i));
      if (!withFiles) continue;
      if (i % kLinksPerFile == 0) {
        sample = templates + L"\\template-" + std::to_wstring(i / kLinksPerFile) + L".msg";
        if (!MakeTemplate(sample)) return false;
      }
      const provider::ObjectId& id = entries.back().id;
      if (i % provider::kMessagesPerBucket == 0 &&
          !provider::CreateDirectoryTree(provider::MessageBucket(folderDirectory, id)))
        return false;
      if (!CreateHardLinkW(provider::MessagePath(folderDirectory, id).c_str(), sample.c_str(), nullptr)) return false;
    }
    if (writer.Append(entries) != provider::StoreResult::Ok) return false;
  }
  return true;
}

std::string Line(const char* what, double seconds) {
  char text[128];
  snprintf(text, sizeof text, "  %-52s %8.3f s\n", what, seconds);
  return text;
}

std::string PeakLine(const char* what) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  char text[128];
  snprintf(text, sizeof text, "  %-52s %8.1f MiB\n", what, static_cast<double>(counters.PeakWorkingSetSize) / (1u << 20));
  return text;
}

// The folder's entry identifier from its row in the top's hierarchy table.
bool FindFolder(IMsgStore* store, std::vector<uint8_t>& id) {
  kvcommon::UniqueMapiBuffer<SPropValue> top;
  if (FAILED(HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, top.put()))) return false;
  UniqueInterface<IMAPIFolder> ipm;
  ULONG type = 0;
  if (FAILED(store->OpenEntry(top->Value.bin.cb, reinterpret_cast<LPENTRYID>(top->Value.bin.lpb), nullptr, 0, &type,
                              ipm.putUnknown())))
    return false;
  UniqueInterface<IMAPITable> children;
  kvcommon::UniqueRowSet rows;
  SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
  if (FAILED(ipm->GetHierarchyTable(0, children.put())) ||
      FAILED(HrQueryAllRows(children.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows.put())) ||
      rows->cRows != 1)
    return false;
  const SBinary& bin = rows->aRow[0].lpProps[0].Value.bin;
  id.assign(bin.lpb, bin.lpb + bin.cb);
  return true;
}

bool ReadRows(IMAPITable* table, LONG count) {
  kvcommon::UniqueRowSet rows;
  return SUCCEEDED(table->QueryRows(count, 0, rows.put())) && rows->cRows == static_cast<ULONG>(count);
}

// The figures, measured step by step in a session of their own.
bool MeasureSteps(IMsgStore* store, const std::vector<uint8_t>& folderId, uint32_t count, bool writable,
                  std::string& out) {
  LPENTRYID id = reinterpret_cast<LPENTRYID>(const_cast<uint8_t*>(folderId.data()));
  const ULONG size = static_cast<ULONG>(folderId.size());
  double start = Seconds();
  UniqueInterface<IMAPIFolder> folder;
  UniqueInterface<IMAPITable> table;
  ULONG type = 0, rows = 0;
  if (FAILED(store->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, folder.putUnknown())) ||
      FAILED(folder->GetContentsTable(MAPI_UNICODE, table.put())))
    return false;
  out += Line("open the folder and its contents table", Seconds() - start);
  start = Seconds();
  if (FAILED(table->GetRowCount(0, &rows)) || rows != count) return false;
  out += Line("row count", Seconds() - start);
  start = Seconds();
  SizedSPropTagArray(5, columns) = {5, {PR_ENTRYID, PR_SUBJECT_W, PR_MESSAGE_CLASS_W, PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_SIZE}};
  if (FAILED(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0)) || !ReadRows(table.get(), 50)) return false;
  out += Line("first 50 rows (five columns)", Seconds() - start);
  start = Seconds();
  if (FAILED(table->SeekRow(BOOKMARK_END, -50, nullptr)) || !ReadRows(table.get(), 50)) return false;
  out += Line("last 50 rows", Seconds() - start);
  start = Seconds();
  kvcommon::UniqueMapiBuffer<SPropValue> counted;
  if (FAILED(HrGetOneProp(folder.get(), PR_CONTENT_COUNT, counted.put())) || counted->Value.l != static_cast<LONG>(count))
    return false;
  out += Line("PR_CONTENT_COUNT of the folder", Seconds() - start);
  out += PeakLine("peak working set so far");
  start = Seconds();
  SizedSSortOrderSet(1, newestFirst) = {1, 0, 0, {{PR_CLIENT_SUBMIT_TIME, TABLE_SORT_DESCEND}}};
  if (FAILED(table->SortTable(reinterpret_cast<LPSSortOrderSet>(&newestFirst), 0)) ||
      FAILED(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr)) || !ReadRows(table.get(), 50))
    return false;
  out += Line("sorted newest first, then its first 50 rows", Seconds() - start);
  table.reset();
  folder.reset();
  if (writable) {
    start = Seconds();
    if (FAILED(store->OpenEntry(size, id, nullptr, MAPI_MODIFY, &type, folder.putUnknown()))) return false;
    out += Line("open the folder for writing (its check)", Seconds() - start);
  }
  return true;
}

}  // namespace

bool MakeLargeFolder(const std::wstring& workFolder, uint32_t count, bool withFiles) {
  provider::FolderRecord folder;
  if (!PrepareStore(workFolder, folder)) return false;
  const std::wstring made = LargeDirectory(workFolder) + L"\\made-" + std::to_wstring(count) + (withFiles ? L"-files" : L"");
  provider::IndexCounts counts;
  if (provider::FileExists(made) && provider::ReadIndexCounts(folder.directory, counts) == provider::StoreResult::Ok &&
      counts.contents == count)
    return true;
  // Earlier marks and message file templates go.
  for (const wchar_t* pattern : {L"\\made-*", L"\\template-*"}) {
    WIN32_FIND_DATAW data;
    kvcommon::UniqueFind find(FindFirstFileW((LargeDirectory(workFolder) + pattern).c_str(), &data));
    if (!find) continue;
    do {
      DeleteFileW((LargeDirectory(workFolder) + L"\\" + data.cFileName).c_str());
    } while (FindNextFileW(find.get(), &data));
  }
  std::printf("making a folder of %lu messages (once, kept in %ls)\n", static_cast<unsigned long>(count),
              LargeDirectory(workFolder).c_str());
  std::fflush(stdout);
  if (!FillFolder(LargeDirectory(workFolder), folder.directory, count, withFiles)) return false;
  kvcommon::UniqueFile marker(CreateFileW(made.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return marker.valid();
}

int MeasureLargeFolder(const std::wstring& workFolder, uint32_t count, bool writable) {
  SetEnvironmentVariableW(KV_MAPI_PROFILES_VARIABLE, ProfilesPath(workFolder).c_str());
  if (FAILED(MAPIInitialize(nullptr))) return 1;
  std::string out;
  bool ok = false;
  {
    UniqueInterface<IMAPISession> session;
    UniqueInterface<IMAPITable> stores;
    kvcommon::UniqueRowSet rows;
    UniqueInterface<IMsgStore> store;
    std::vector<uint8_t> folderId;
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    ok = SUCCEEDED(MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(kProfile)), nullptr,
                               MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, session.put())) &&
         SUCCEEDED(session->GetMsgStoresTable(0, stores.put())) &&
         SUCCEEDED(HrQueryAllRows(stores.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                                  rows.put())) &&
         SUCCEEDED(session->OpenMsgStore(0, rows->aRow[0].lpProps[0].Value.bin.cb,
                                         reinterpret_cast<LPENTRYID>(rows->aRow[0].lpProps[0].Value.bin.lpb), nullptr,
                                         MDB_WRITE, store.put())) &&
         FindFolder(store.get(), folderId) && MeasureSteps(store.get(), folderId, count, writable, out);
  }
  MAPIUninitialize();
  out += ok ? PeakLine("peak working set of the process, sorting included") : "  failed\n";
  // The figures go to a file the benchmark prints, whatever its output is.
  const std::wstring figures = LargeDirectory(workFolder) + L"\\figures.txt";
  kvcommon::UniqueFile file(CreateFileW(figures.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  WriteFile(file.get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  return ok ? 0 : 1;
}

bool MeasureLargeFolderApart(const std::wstring& workFolder, uint32_t count, bool writable) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --measure-large-folder \"" + workFolder + L"\" " +
                         std::to_wstring(count) + (writable ? L" 1" : L" 0");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return false;
  kvcommon::UniqueHandle child(process.hProcess);
  CloseHandle(process.hThread);
  WaitForSingleObject(child.get(), INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(child.get(), &code);
  std::string figures;
  provider::ReadWholeFile(LargeDirectory(workFolder) + L"\\figures.txt", figures);
  LARGE_INTEGER size = {};
  WIN32_FILE_ATTRIBUTE_DATA index = {};
  provider::FolderRecord folder;
  if (PrepareStore(workFolder, folder) &&
      GetFileAttributesExW(provider::IndexPath(folder.directory).c_str(), GetFileExInfoStandard, &index)) {
    size.HighPart = static_cast<LONG>(index.nFileSizeHigh);
    size.LowPart = index.nFileSizeLow;
  }
  std::printf("%lu messages in one folder (index %.1f MiB), in a process of its own\n%s",
              static_cast<unsigned long>(count), static_cast<double>(size.QuadPart) / (1u << 20), figures.c_str());
  return code == 0;
}

// ---- one posting into a big folder ----

namespace {

constexpr wchar_t kBigProfile[] = L"Big";
constexpr int kBigTurns = 8;
constexpr int kPostingsPerTurn = 100;

std::wstring BigDirectory(const std::wstring& work) { return work + L"\\big"; }
std::wstring BigProfilesPath(const std::wstring& work) { return BigDirectory(work) + L"\\profiles.ini"; }

bool PrepareBigStore(const std::wstring& work, provider::FolderRecord& big, provider::FolderRecord& empty) {
  CreateDirectoryW(BigDirectory(work).c_str(), nullptr);
  provider::admin::ProfileRequest request;
  request.profile.name = kBigProfile;
  request.profile.userName = L"Erika Mustermann";
  provider::StoreConfig store;
  store.name = L"Mailbox";
  store.directory = BigDirectory(work) + L"\\store";
  request.profile.stores.push_back(store);
  request.folders = {L"Mailbox#Big", L"Mailbox#Empty"};
  std::wstring error;
  std::unique_ptr<provider::StoreLayout> layout;
  return provider::admin::CreateProfile(BigProfilesPath(work), request, error) &&
         provider::StoreLayout::Open(store.directory, layout) == provider::StoreResult::Ok &&
         layout->FindByPath(L"Big", big) == provider::StoreResult::Ok &&
         layout->FindByPath(L"Empty", empty) == provider::StoreResult::Ok;
}

bool OpenByName(IMsgStore* store, const wchar_t* name, UniqueInterface<IMAPIFolder>& out) {
  kvcommon::UniqueMapiBuffer<SPropValue> top;
  UniqueInterface<IMAPIFolder> ipm;
  ULONG type = 0;
  if (FAILED(HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, top.put())) ||
      FAILED(store->OpenEntry(top->Value.bin.cb, reinterpret_cast<LPENTRYID>(top->Value.bin.lpb), nullptr, 0, &type,
                              ipm.putUnknown())))
    return false;
  UniqueInterface<IMAPITable> children;
  kvcommon::UniqueRowSet rows;
  SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DISPLAY_NAME_W}};
  if (FAILED(ipm->GetHierarchyTable(MAPI_UNICODE, children.put())) ||
      FAILED(HrQueryAllRows(children.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows.put())))
    return false;
  for (ULONG i = 0; i < rows->cRows; ++i) {
    const SPropValue* cells = rows->aRow[i].lpProps;
    if (lstrcmpW(cells[1].Value.lpszW, name) != 0) continue;
    return SUCCEEDED(store->OpenEntry(cells[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(cells[0].Value.bin.lpb),
                                      nullptr, MAPI_MODIFY, &type, out.putUnknown()));
  }
  return false;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

bool MakeBigFolder(const std::wstring& workFolder, uint32_t count) {
  provider::FolderRecord big, empty;
  if (!PrepareBigStore(workFolder, big, empty)) return false;
  // Named after the layout too: a folder made in an earlier one is made again.
  const std::wstring made = BigDirectory(workFolder) + L"\\made-" + std::to_wstring(count) + L"-buckets-of-128";
  provider::IndexCounts counts;
  // The measurements add their postings; the folder stays made.
  if (provider::FileExists(made) && provider::ReadIndexCounts(big.directory, counts) == provider::StoreResult::Ok &&
      counts.contents >= count)
    return true;
  WIN32_FIND_DATAW data;
  kvcommon::UniqueFind marks(FindFirstFileW((BigDirectory(workFolder) + L"\\made-*").c_str(), &data));
  for (bool more = marks.valid(); more; more = FindNextFileW(marks.get(), &data) != FALSE)
    DeleteFileW((BigDirectory(workFolder) + L"\\" + data.cFileName).c_str());
  std::printf("making a folder of %lu message files (once, kept in %ls): hard links to a few small message files\n"
              "placed straight into their buckets as a repair would find them, the index through the store layer\n",
              static_cast<unsigned long>(count), BigDirectory(workFolder).c_str());
  std::fflush(stdout);
  const double start = Seconds();
  if (!FillFolder(BigDirectory(workFolder), big.directory, count, true)) return false;
  std::printf("  made in %.1f s\n", Seconds() - start);
  kvcommon::UniqueFile marker(CreateFileW(made.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return marker.valid();
}

int MeasureBigFolder(const std::wstring& workFolder, uint32_t count) {
  provider::FolderRecord big, empty;
  provider::IndexCounts held;
  if (!PrepareBigStore(workFolder, big, empty) ||
      provider::ReadIndexCounts(big.directory, held) != provider::StoreResult::Ok || held.contents < count)
    return 1;
  SetEnvironmentVariableW(KV_MAPI_PROFILES_VARIABLE, BigProfilesPath(workFolder).c_str());
  const std::wstring source = BigDirectory(workFolder) + L"\\source.bin";
  if (!MakeSource(source, 10u << 10) || FAILED(MAPIInitialize(nullptr))) return 1;
  std::string out;
  bool ok = false;
  {
    UniqueInterface<IMAPISession> session;
    UniqueInterface<IMAPITable> stores;
    kvcommon::UniqueRowSet rows;
    UniqueInterface<IMsgStore> store;
    UniqueInterface<IMAPIFolder> bigFolder, emptyFolder;
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    ok = SUCCEEDED(MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(kBigProfile)), nullptr,
                               MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, session.put())) &&
         SUCCEEDED(session->GetMsgStoresTable(0, stores.put())) &&
         SUCCEEDED(HrQueryAllRows(stores.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                                  rows.put())) &&
         SUCCEEDED(session->OpenMsgStore(0, rows->aRow[0].lpProps[0].Value.bin.cb,
                                         reinterpret_cast<LPENTRYID>(rows->aRow[0].lpProps[0].Value.bin.lpb), nullptr,
                                         MDB_WRITE, store.put()));
    out += "  the big folder holds " + std::to_string(held.contents) + " messages (the turns add theirs)\n";
    double start = Seconds();
    ok = ok && OpenByName(store.get(), L"Big", bigFolder);
    out += Line("open the big folder for writing (its check)", Seconds() - start);
    ok = ok && OpenByName(store.get(), L"Empty", emptyFolder);
    posting_client::Posting posting;
    posting.postedName = L"Quarterly report.pdf";
    posting.sourcePath = source;
    auto postInto = [&](IMAPIFolder* folder) {
      const double begin = Seconds();
      for (int i = 0; i < kPostingsPerTurn; ++i)
        if (FAILED(posting_client::PostThroughMapi(folder, posting))) return -1.0;
      return (Seconds() - begin) / kPostingsPerTurn;
    };
    // Emptied before each turn, the empty folder's postings go into its
    // first bucket again, made in the first turn; what a new folder's first
    // postings pay for making theirs is measured after the turns.
    std::vector<double> bigTimes, emptyTimes, ratios;
    for (int turn = 0; ok && turn < kBigTurns; ++turn) {
      EmptyFolderDirectory(empty.directory);
      double inBig = 0, inEmpty = 0;
      if (turn % 2 == 0) {
        inBig = postInto(bigFolder.get());
        inEmpty = postInto(emptyFolder.get());
      } else {
        inEmpty = postInto(emptyFolder.get());
        inBig = postInto(bigFolder.get());
      }
      ok = inBig > 0 && inEmpty > 0;
      bigTimes.push_back(inBig);
      emptyTimes.push_back(inEmpty);
      ratios.push_back(inBig / inEmpty);
    }
    double inNew = 0;
    if (ok) {
      RemoveMessageDirectories(provider::MessagesDirectory(empty.directory));
      EmptyFolderDirectory(empty.directory);
      inNew = postInto(emptyFolder.get());
      ok = inNew > 0;
    }
    EmptyFolderDirectory(empty.directory);
    if (ok) {
      const double bestBig = *std::min_element(bigTimes.begin(), bigTimes.end());
      const double bestEmpty = *std::min_element(emptyTimes.begin(), emptyTimes.end());
      char text[640];
      snprintf(text, sizeof text,
               "  one posting of 10 KiB into the empty folder      %8.3f ms (best of %d turns of %d)\n"
               "  one posting of 10 KiB into the big folder        %8.3f ms (best of %d turns of %d)\n"
               "  big over empty: best %.2fx, median of the turns %.2fx (goal: at most 1.20x)\n"
               "  the first %d postings into a new folder, making its directories: %.3f ms each\n",
               bestEmpty * 1000, kBigTurns, kPostingsPerTurn, bestBig * 1000, kBigTurns, kPostingsPerTurn,
               bestBig / bestEmpty, Median(ratios), kPostingsPerTurn, inNew * 1000);
      out += text;
    }
  }
  MAPIUninitialize();
  DeleteFileW(source.c_str());
  if (!ok) out += "  failed\n";
  const std::wstring figures = BigDirectory(workFolder) + L"\\figures.txt";
  kvcommon::UniqueFile file(CreateFileW(figures.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  WriteFile(file.get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  return ok ? 0 : 1;
}

bool MeasureBigFolderApart(const std::wstring& workFolder, uint32_t count) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --measure-big-folder \"" + workFolder + L"\" " +
                         std::to_wstring(count);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return false;
  kvcommon::UniqueHandle child(process.hProcess);
  CloseHandle(process.hThread);
  WaitForSingleObject(child.get(), INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(child.get(), &code);
  std::string figures;
  provider::ReadWholeFile(BigDirectory(workFolder) + L"\\figures.txt", figures);
  std::printf("a posting into a folder of %lu message files against one into an empty folder, in a process of its own\n%s",
              static_cast<unsigned long>(count), figures.c_str());
  return code == 0;
}

}  // namespace bench
