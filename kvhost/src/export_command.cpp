#include "export_command.h"

#include <psapi.h>

#include <vector>

#include <kvcommon/unique_resource.h>

#include "../resources/resource_ids.h"
#include "commands.h"
#include "export_module.h"
#include "messages.h"
#include "output.h"

namespace {

std::wstring FullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
  full.resize(length < size ? length : 0);
  return full.empty() ? path : full;
}

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/:");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

double Seconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double PeakWorkingSetMiB() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<double>(counters.PeakWorkingSetSize) / (1u << 20);
}

// What a result code of the module means, for the user.
std::wstring CodeMeaning(const Messages& messages, int code) {
  switch (code) {
    case KVE_FAILED: return messages.Text(IDS_CODE_FAILED);
    case KVE_NO_MEMORY: return messages.Text(IDS_CODE_NO_MEMORY);
    case KVE_DISK_FULL: return messages.Text(IDS_CODE_DISK_FULL);
    case KVE_BAD_ARGUMENT: return messages.Text(IDS_CODE_BAD_ARGUMENT);
    case KVE_CANCELLED: return messages.Text(IDS_CODE_CANCELLED);
    case KVE_NO_STRING: return messages.Text(IDS_CODE_NO_STRING);
    default: return messages.Text(IDS_CODE_UNKNOWN);
  }
}

// The posting kinds as the command line names them.
const wchar_t* KindName(uint16_t kind) {
  switch (kind) {
    case PersonalReport: return L"personal";
    case FolderReport: return L"folder";
    case ReportInstance: return L"instance";
    default: return L"?";
  }
}

// A saved options block: the whole file, which must be as long as the
// block says (a 32-bit header keeps its size at byte 16, a 64-bit one at 28).
bool ReadOptionsBlock(const std::wstring& path, std::vector<BYTE>& block, const Messages& messages, Output& err) {
  kvcommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !GetFileSizeEx(file.get(), &size)) {
    err.Write(messages.Format(IDS_OPTIONS_FILE_UNREADABLE, path.c_str(), GetLastError()));
    return false;
  }
  if (size.QuadPart < 18 || size.QuadPart > 0xFFFF) {
    err.Write(messages.Format(IDS_NOT_AN_OPTIONS_BLOCK, path.c_str()));
    return false;
  }
  block.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr) || read != block.size()) {
    err.Write(messages.Format(IDS_OPTIONS_FILE_UNREADABLE, path.c_str(), GetLastError()));
    return false;
  }
  const unsigned structSize = block[0] | (block[1] << 8u);
  const size_t sizeAt = structSize < 30 ? 16 : 28;
  const unsigned blockSize = sizeAt + 2 <= block.size() ? (block[sizeAt] | (block[sizeAt + 1] << 8u)) : 0;
  if (blockSize == 0 || blockSize != block.size()) {
    err.Write(messages.Format(IDS_NOT_AN_OPTIONS_BLOCK, path.c_str()));
    return false;
  }
  return true;
}

// Writes beside the target and moves it into place: a failure leaves no half file.
bool SaveOptionsBlock(const std::wstring& path, const void* bytes, WORD size) {
  const std::wstring aside = path + L".new";
  {
    kvcommon::UniqueFile file(
        CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) {
      DWORD error = GetLastError();
      file.reset();
      DeleteFileW(aside.c_str());
      SetLastError(error);
      return false;
    }
  }
  if (MoveFileExW(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DWORD error = GetLastError();
  DeleteFileW(aside.c_str());
  SetLastError(error);
  return false;
}

// The destination the job settled, as the module decodes it.
void PrintDestination(ExportModule& module, KVEJobHandle job, const Messages& messages, Output& out) {
  KVEDestinationOptions* settled = nullptr;
  if (module.KVEDecodeDestinationOptionsW(job, &settled) != KVE_OK || !settled) return;
  const wchar_t* folder = settled->folderPath.pointer;
  const std::wstring where = settled->postingKind == PersonalReport || !folder ? messages.Text(IDS_COMMON_VIEWS)
                                                                                : std::wstring(folder);
  const wchar_t* profile = settled->profileName.pointer ? settled->profileName.pointer : L"";
  out.Write(messages.Format(IDS_DESTINATION, where.c_str(), profile, KindName(settled->postingKind)));
  module.KVEFreeDestinationOptionsW(0, settled);
}

}  // namespace

int ExportFiles(ExportModule& module, const HostOptions& options, const Messages& messages, Output& out, Output& err) {
  const DestinationOptions& destination = options.destination;
  std::vector<BYTE> block;
  KVEDestinationOptions record = {};
  const KVEDestinationOptions* optionsRecord = &record;
  if (destination.choose) {
    optionsRecord = nullptr;  // the module's dialogs settle the destination
  } else if (!destination.optionsFile.empty()) {
    if (!ReadOptionsBlock(destination.optionsFile, block, messages, err)) return kExitModuleFailed;
    optionsRecord = reinterpret_cast<const KVEDestinationOptions*>(block.data());
  } else {
    record.structSize = sizeof record;
    record.profileName.pointer = destination.profile.c_str();
    record.password.pointer = destination.passwordGiven ? destination.password.c_str() : nullptr;
    record.postingKind = destination.postingKind;
    record.folderPath.pointer = destination.folderGiven ? destination.folder.c_str() : nullptr;
    record.blockSize = 0;
  }

  // The host's records: each file posted under its own name, from its full path.
  const size_t count = options.files.size();
  std::vector<std::wstring> paths;
  for (const std::wstring& file : options.files) paths.push_back(FullPath(file));
  std::vector<KVEExportFile> files(count);
  std::vector<KVEExportFile*> filePointers(count);
  std::vector<const wchar_t*> pathPointers(count);
  for (size_t i = 0; i < count; ++i) {
    files[i].structSize = sizeof(KVEExportFile);
    files[i].useFileName = 1;
    files[i].fileName = paths[i].c_str();
    filePointers[i] = &files[i];
    pathPointers[i] = paths[i].c_str();
  }
  KVEExportInfo info = {};
  info.structSize = sizeof info;
  info.fileCount = static_cast<uint16_t>(count);
  info.files = filePointers.data();
  info.language = options.languageGiven ? options.language : LANG_USER_DEFAULT;
  KVEExportRequest request = {};
  request.structSize = sizeof request;
  request.count = static_cast<uint16_t>(count);
  request.paths = pathPointers.data();

  int result = module.KVEInitializeW(0);
  if (result != KVE_OK) {
    err.Write(messages.Format(IDS_INITIALIZE_FAILED, result));
    return kExitModuleFailed;
  }
  const double started = Seconds();
  KVEJobHandle job = nullptr;
  KVEJobRecord* jobRecord = nullptr;
  result = module.KVEInitExportDestinationW(nullptr, 0, optionsRecord, &info, &job, &jobRecord);
  const double setUp = Seconds();
  if (result != KVE_OK) {
    err.Write(messages.Format(IDS_SETUP_FAILED, result, CodeMeaning(messages, result).c_str()));
    if (result == KVE_FAILED) err.Write(messages.Text(IDS_SETUP_HINT));
    // MAPI stays initialised after a refused setup: the job's end balances it.
    module.KVETermExportDestinationW(nullptr, 0);
    module.KVETerminateW();
    return kExitModuleFailed;
  }
  PrintDestination(module, job, messages, out);
  out.Write(messages.Format(IDS_POSTING_FILES, static_cast<unsigned>(count)));
  for (size_t i = 0; i < count; ++i) {
    out.Write(messages.Format(IDS_FILE_LINE, static_cast<unsigned>(i + 1), static_cast<unsigned>(count),
                              FileNameOf(paths[i]).c_str(), paths[i].c_str()));
  }

  // Timed apart from the lines above: writing them is kvhost's work, not the module's.
  const double exportStart = Seconds();
  result = module.KVEExportToDestinationW(job, &request);
  const double exported = Seconds();
  int exitCode = kExitSuccess;
  if (result == KVE_OK) {
    out.Write(messages.Format(IDS_EXPORT_DONE, static_cast<unsigned>(count)));
    if (!options.saveOptionsFile.empty()) {
      KVEDestinationOptions* encoded = nullptr;
      WORD size = 0;
      int encodeResult = module.KVEEncodeDestinationOptionsW(job, &encoded, &size);
      if (encodeResult != KVE_OK || !encoded) {
        err.Write(messages.Format(IDS_ENCODE_FAILED, encodeResult));
        exitCode = kExitModuleFailed;
      } else if (!SaveOptionsBlock(options.saveOptionsFile, encoded, size)) {
        err.Write(messages.Format(IDS_SAVE_FAILED, options.saveOptionsFile.c_str(), GetLastError()));
        exitCode = kExitModuleFailed;
      } else {
        out.Write(messages.Format(IDS_OPTIONS_SAVED, options.saveOptionsFile.c_str(), static_cast<unsigned>(size)));
      }
    }
  } else {
    err.Write(messages.Format(IDS_EXPORT_FAILED, result, CodeMeaning(messages, result).c_str()));
    const wchar_t* text = module.KVEGetErrorTextW(job);
    if (result == KVE_FAILED && text) err.Write(messages.Format(IDS_ERROR_TEXT, text));
    exitCode = kExitModuleFailed;
  }
  const double beforeEnd = Seconds();
  module.KVETermExportDestinationW(job, 0);
  const double ended = Seconds();
  module.KVETerminateW();
  if (options.timing) {
    out.Write(
        messages.Format(IDS_TIMING, setUp - started, exported - exportStart, ended - beforeEnd, PeakWorkingSetMiB()));
  }
  return exitCode;
}
