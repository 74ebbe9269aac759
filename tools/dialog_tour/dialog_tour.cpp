// Pictures of the module's dialogs for the README: runs the interactive
// setup and a report export through the real KV2FOLD.dll with a person's
// thread driving the dialogs (as the dialog tests do), and at each moment
// worth showing saves the screen under the dialog (and any message box over
// it) as a 24-bit .bmp. scripts/screenshots runs it in a Wine desktop and
// turns the pictures into PNGs.
//
//   kv2fold_dialog_tour <output folder> <language: 0409 or 0407> <suffix>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <kvprovider/diagnostics.h>

#include "admin_lib.h"
#include "interface/kve_api.h"
#include "kvtest/dialog_driver.h"
#include "kvtest/environment.h"
#include "resources/resource_ids.h"
#include "tests/support/module_export.h"

namespace {

using kvtest::DialogDriver;

std::wstring g_output, g_suffix;
int g_failures = 0;

// The screen under the windows, after they have had time to paint.
void Capture(const std::vector<HWND>& windows, const std::wstring& name) {
  Sleep(700);
  RECT area = {};
  for (HWND window : windows) {
    RECT rect;
    if (!window || !GetWindowRect(window, &rect)) continue;
    if (IsRectEmpty(&area)) {
      area = rect;
    } else {
      UnionRect(&area, &area, &rect);
    }
  }
  const int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) {
    ++g_failures;
    return;
  }
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();
  const DWORD imageBytes = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
  BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(sizeof file + sizeof info.bmiHeader + imageBytes), 0, 0,
                           static_cast<DWORD>(sizeof file + sizeof info.bmiHeader)};
  const std::wstring path = g_output + L"\\" + name + g_suffix + L".bmp";
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(out, &file, sizeof file, &written, nullptr);
  WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr);
  WriteFile(out, bits, imageBytes, &written, nullptr);
  CloseHandle(out);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  std::printf("saved %ls\n", path.c_str());
}

// The captions of this language's dialogs and boxes.
struct Captions {
  const wchar_t *kind, *folder, *warning, *name;
};

void Note(DialogDriver& person) {
  for (const std::string& problem : person.problems) std::printf("problem: %s\n", problem.c_str());
  g_failures += static_cast<int>(person.problems.size());
  person.problems.clear();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::printf("usage: kv2fold_dialog_tour <output folder> <0409|0407> <suffix>\n");
    return 2;
  }
  g_output = argv[1];
  const DWORD language = wcstoul(argv[2], nullptr, 16);
  g_suffix = argv[3];
  const Captions captions = language == 0x0407
                                ? Captions{L"Nach Exchange-Ordner exportieren", L"Ordner ausw\u00e4hlen", L"Warnung",
                                           L"Berichtsnamen eingeben"}
                                : Captions{L"Export to Exchange Folder", L"Select a folder", L"Warning",
                                           L"Enter Report Name"};

  // A profile of Erika's: her mailbox and the public folders.
  const std::wstring work = g_output + L"\\tour-store" + g_suffix;
  CreateDirectoryW(work.c_str(), nullptr);
  provider::admin::ProfileRequest request;
  request.profile.name = L"Erika";
  request.profile.userName = L"Erika Mustermann";
  for (const wchar_t* name : {L"Mailbox - Erika Mustermann", L"Public Folders"}) {
    provider::StoreConfig store;
    store.name = name;
    store.directory = work + L"\\" + (name[0] == L'M' ? L"mailbox" : L"public");
    request.profile.stores.push_back(store);
  }
  request.profile.defaultStore = L"Mailbox - Erika Mustermann";
  request.folders = {L"Mailbox - Erika Mustermann#Inbox#Reports", L"Mailbox - Erika Mustermann#Inbox#Customers",
                     L"Mailbox - Erika Mustermann#Sent Items", L"Mailbox - Erika Mustermann#Drafts",
                     L"Public Folders#Sales#2024", L"Public Folders#Finance"};
  request.makeDefault = true;
  std::wstring error;
  SetEnvironmentVariableW(KV_MAPI_PROFILES_VARIABLE, (work + L"\\profiles.ini").c_str());
  if (!provider::admin::CreateProfile(work + L"\\profiles.ini", request, error)) {
    std::printf("no profile: %ls\n", error.c_str());
    return 1;
  }
  const std::wstring reports[] = {work + L"\\Q2 Sales.rpt", work + L"\\Q3 Sales.rpt"};
  for (const std::wstring& path : reports) kvtest::WriteBytes(path, {});

  HMODULE module = LoadLibraryW(L"KV2FOLD.dll");
  auto initialize = MODULE_EXPORT(module, KVEInitializeW);
  auto initExport = MODULE_EXPORT(module, KVEInitExportDestinationW);
  auto exportFiles = MODULE_EXPORT(module, KVEExportToDestinationW);
  auto termExport = MODULE_EXPORT(module, KVETermExportDestinationW);
  auto terminate = MODULE_EXPORT(module, KVETerminateW);
  if (!initialize || initialize(0) != 0) {
    std::printf("KV2FOLD.dll cannot be used\n");
    return 1;
  }

  KVEExportFile files[2] = {{sizeof(KVEExportFile), 1, reports[0].c_str()},
                            {sizeof(KVEExportFile), 1, reports[1].c_str()}};
  KVEExportFile* filePointers[2] = {&files[0], &files[1]};
  KVEExportInfo info = {};
  info.structSize = sizeof info;
  info.fileCount = 2;
  info.files = filePointers;
  info.language = language;
  KVEJobHandle job = nullptr;
  int setup = -99, exported = -99;
  {
    // The setup: kind, folder, the warning on the profile, the folder chosen.
    kvtest::PersonAtTheScreen person([&](DialogDriver& driver) {
      HWND kinds = driver.Await(captions.kind);
      if (!kinds) return Note(driver);
      DialogDriver::Click(kinds, IDC_KIND_FOLDER);
      Capture({kinds}, L"kind");
      DialogDriver::Click(kinds, IDOK);
      HWND dialog = driver.Await(captions.folder);
      if (!dialog) return Note(driver);
      HWND tree = GetDlgItem(dialog, IDC_FOLDER_TREE);
      driver.Item(tree, {L"Erika", L"Public Folders", L"Sales", L"2024"});
      DialogDriver::Click(dialog, IDOK);  // the profile is still selected
      if (HWND box = driver.Await(captions.warning)) Capture({dialog, box}, L"folder-warning");
      driver.Acknowledge(captions.warning);
      HTREEITEM chosen = driver.Item(tree, {L"Erika", L"Mailbox - Erika Mustermann", L"Inbox", L"Reports"});
      DialogDriver::Select(tree, chosen);
      PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(tree), TRUE);  // as if clicked
      Capture({dialog}, L"folder-selection");
      DialogDriver::Click(dialog, IDOK);
      driver.AwaitGone(dialog);
      Note(driver);
    });
    setup = initExport(nullptr, 0, nullptr, &info, &job, nullptr);
    person.Finish();
  }
  if (setup == 0) {
    // The export: a name for the first report, a taken and an empty one for
    // the second, then its own.
    kvtest::PersonAtTheScreen person([&](DialogDriver& driver) {
      HWND dialog = driver.Await(captions.name);
      if (!dialog) return Note(driver);
      DialogDriver::Type(dialog, IDC_REPORT_NAME_EDIT, L"Quarterly Sales");
      Capture({dialog}, L"report-name");
      DialogDriver::Click(dialog, IDOK);
      driver.AwaitGone(dialog);
      driver.AwaitGone(driver.Answer(captions.name, IDC_REPORT_NAME_EDIT, L"quarterly sales"));
      if (HWND box = driver.Await(L"KVEFold.DLL")) Capture({box}, L"report-name-taken");
      driver.Acknowledge(L"KVEFold.DLL");
      dialog = driver.Await(captions.name);
      if (!dialog) return Note(driver);
      DialogDriver::Click(dialog, IDOK);
      if (HWND box = driver.Await(L"KVEFold.DLL")) Capture({dialog, box}, L"report-name-empty");
      driver.Acknowledge(L"KVEFold.DLL");
      driver.AwaitGone(driver.Answer(captions.name, IDC_REPORT_NAME_EDIT, L"Q3 Sales"));
      Note(driver);
    });
    const wchar_t* paths[2] = {reports[0].c_str(), reports[1].c_str()};
    KVEExportRequest exportRequest = {sizeof exportRequest, 2, paths};
    exported = exportFiles(job, &exportRequest);
    person.Finish();
  }
  termExport(job, 0);
  terminate();
  std::printf("setup %d, export %d, %d problems\n", setup, exported, g_failures);
  return setup == 0 && exported == 0 && g_failures == 0 ? 0 : 1;
}
