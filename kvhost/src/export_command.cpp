#include "export_command.h"

#include <vector>

#include <kvcommon/unique_resource.h>

#include "../resources/resource_ids.h"
#include "commands.h"
#include "export_module.h"
#include "export_steps.h"
#include "messages.h"
#include "output.h"

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
