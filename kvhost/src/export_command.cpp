#include "export_command.h"

#include <vector>

#include <kvcommon/unique_resource.h>

#include "../resources/resource_ids.h"
#include "commands.h"
#include "export_module.h"
#include "export_steps.h"
#include "messages.h"
#include "output.h"
#include "setup_diagnosis.h"

namespace {

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

// The options record handed to the setup: null for --choose (the module's
// dialogs settle the destination), the block read from --options-file, or a
// pointer-layout record over the command line's strings. False when the
// options file cannot be read.
bool DestinationRecord(const DestinationOptions& destination, const Messages& messages, Output& err,
                       std::vector<BYTE>& block, KVEDestinationOptions& record,
                       const KVEDestinationOptions*& optionsRecord) {
  optionsRecord = &record;
  if (destination.choose) {
    optionsRecord = nullptr;
  } else if (!destination.optionsFile.empty()) {
    if (!ReadOptionsBlock(destination.optionsFile, block, messages, err)) return false;
    optionsRecord = reinterpret_cast<const KVEDestinationOptions*>(block.data());
  } else {
    record.structSize = sizeof record;
    record.profileName.pointer = destination.profile.c_str();
    record.password.pointer = destination.passwordGiven ? destination.password.c_str() : nullptr;
    record.postingKind = destination.postingKind;
    record.folderPath.pointer = destination.folderGiven ? destination.folder.c_str() : nullptr;
    record.blockSize = 0;
  }
  return true;
}

// The host's records of the files: each posted under its own name, from its
// full path. The records point into the vectors, which must stay put.
struct FileRecords {
  std::vector<std::wstring> paths;
  std::vector<KVEExportFile> files;
  std::vector<KVEExportFile*> filePointers;
  std::vector<const wchar_t*> pathPointers;
  KVEExportInfo info = {};
  KVEExportRequest request = {};

  explicit FileRecords(const HostOptions& options) {
    for (const std::wstring& file : options.files) paths.push_back(FullPath(file));
    const size_t count = paths.size();
    files.resize(count);
    filePointers.resize(count);
    pathPointers.resize(count);
    for (size_t i = 0; i < count; ++i) {
      files[i].structSize = sizeof(KVEExportFile);
      files[i].useFileName = 1;
      files[i].fileName = paths[i].c_str();
      filePointers[i] = &files[i];
      pathPointers[i] = paths[i].c_str();
    }
    info.structSize = sizeof info;
    info.fileCount = static_cast<uint16_t>(count);
    info.files = filePointers.data();
    info.language = options.languageGiven ? options.language : LANG_USER_DEFAULT;
    request.structSize = sizeof request;
    request.count = static_cast<uint16_t>(count);
    request.paths = pathPointers.data();
  }
  FileRecords(const FileRecords&) = delete;
  FileRecords& operator=(const FileRecords&) = delete;
};

// After a successful export: the settled options encoded and saved. The
// exit code.
int SaveSettledOptions(ExportModule& module, KVEJobHandle job, const std::wstring& path, bool chosen,
                       const Messages& messages, Output& out, Output& err) {
  KVEDestinationOptions* encoded = nullptr;
  WORD size = 0;
  const int encodeResult = module.KVEEncodeDestinationOptionsW(job, &encoded, &size);
  if (encodeResult != KVE_OK || !encoded) {
    err.Write(messages.Format(IDS_ENCODE_FAILED, encodeResult));
    return kExitModuleFailed;
  }
  if (!SaveOptionsBlock(path, encoded, size)) {
    err.Write(messages.Format(IDS_SAVE_FAILED, path.c_str(), GetLastError()));
    return kExitModuleFailed;
  }
  out.Write(messages.Format(IDS_OPTIONS_SAVED, path.c_str(), static_cast<unsigned>(size)));
  NoteSavedKind(encoded->postingKind, chosen, messages, out);
  return kExitSuccess;
}

// The export's outcome: success (and the options saved when asked for), or
// the code with its meaning and the module's error text. The exit code.
int ReportOutcome(ExportModule& module, KVEJobHandle job, int result, unsigned count, const HostOptions& options,
                  const Messages& messages, Output& out, Output& err) {
  if (result != KVE_OK) {
    err.Write(messages.Format(IDS_EXPORT_FAILED, result, CodeMeaning(messages, result).c_str()));
    const wchar_t* text = module.KVEGetErrorTextW(job);
    if (HasFileMessage(result) && text) err.Write(messages.Format(IDS_ERROR_TEXT, text));
    return kExitModuleFailed;
  }
  out.Write(messages.Format(IDS_EXPORT_DONE, count));
  if (options.saveOptionsFile.empty()) return kExitSuccess;
  return SaveSettledOptions(module, job, options.saveOptionsFile, options.destination.choose, messages, out, err);
}

}  // namespace

int ExportFiles(ExportModule& module, const HostOptions& options, const Messages& messages, Output& out, Output& err) {
  std::vector<BYTE> block;
  KVEDestinationOptions record = {};
  const KVEDestinationOptions* optionsRecord = nullptr;
  if (!DestinationRecord(options.destination, messages, err, block, record, optionsRecord)) return kExitModuleFailed;
  const FileRecords records(options);
  const unsigned count = static_cast<unsigned>(records.paths.size());

  int result = module.KVEInitializeW(0);
  if (result != KVE_OK) {
    err.Write(messages.Format(IDS_INITIALIZE_FAILED, result));
    return kExitModuleFailed;
  }
  const double started = Seconds();
  KVEJobHandle job = nullptr;
  KVEJobRecord* jobRecord = nullptr;
  result = module.KVEInitExportDestinationW(nullptr, 0, optionsRecord, &records.info, &job, &jobRecord);
  const double setUp = Seconds();
  if (result != KVE_OK) {
    err.Write(messages.Format(IDS_SETUP_FAILED, result, CodeMeaning(messages, result).c_str()));
    if (result == KVE_FAILED) ExplainFailedSetup(LogonOfDestination(options.destination, block, false), messages, err);
    // MAPI stays initialised after a refused setup: the job's end balances it.
    module.KVETermExportDestinationW(nullptr, 0);
    module.KVETerminateW();
    return kExitModuleFailed;
  }
  PrintDestination(module, job, messages, out);
  out.Write(messages.Format(IDS_POSTING_FILES, count));
  for (unsigned i = 0; i < count; ++i) {
    out.Write(messages.Format(IDS_FILE_LINE, i + 1, count, FileNameOf(records.paths[i]).c_str(),
                              records.paths[i].c_str()));
  }

  // Timed apart from the lines above: writing them is kvhost's work, not the module's.
  const double exportStart = Seconds();
  result = module.KVEExportToDestinationW(job, &records.request);
  const double exported = Seconds();
  const int exitCode = ReportOutcome(module, job, result, count, options, messages, out, err);
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
