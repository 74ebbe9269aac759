#include "export_command.h"

#include <memory>
#include <string>
#include <vector>

#include "../resources/resource_ids.h"
#include "commands.h"
#include "export_module.h"
#include "export_steps.h"
#include "messages.h"
#include "output.h"
#include "setup_diagnosis.h"

namespace {

class WideExportCalls : public ExportCalls {
 public:
  explicit WideExportCalls(ExportModule& module) : module_(module) {}

  const Names& names() const override {
    static const Names names = {IDS_INITIALIZE_FAILED, IDS_SETUP_FAILED, IDS_POSTING_FILES, IDS_EXPORT_FAILED,
                                IDS_ENCODE_FAILED};
    return names;
  }
  bool narrow() const override { return false; }

  bool Prepare(const HostOptions& options, const std::vector<std::wstring>& paths, const std::vector<BYTE>& block,
               const Messages&, Output&) override {
    const DestinationOptions& destination = options.destination;
    optionsRecord_ = &record_;
    if (destination.choose) {
      optionsRecord_ = nullptr;
    } else if (!destination.optionsFile.empty()) {
      optionsRecord_ = reinterpret_cast<const KVEDestinationOptions*>(block.data());
    } else {
      record_.structSize = sizeof record_;
      record_.profileName.pointer = destination.profile.c_str();
      record_.password.pointer = destination.passwordGiven ? destination.password.c_str() : nullptr;
      record_.postingKind = destination.postingKind;
      record_.folderPath.pointer = destination.folderGiven ? destination.folder.c_str() : nullptr;
      record_.blockSize = 0;
    }
    files_ = std::make_unique<FileRecords<wchar_t>>(paths,
                                                    options.languageGiven ? options.language : LANG_USER_DEFAULT);
    return true;
  }
  int Initialize() override { return module_.KVEInitializeW(0); }
  int InitExportDestination(KVEJobHandle* job) override {
    KVEJobRecord* jobRecord = nullptr;
    return module_.KVEInitExportDestinationW(nullptr, 0, optionsRecord_, &files_->info, job, &jobRecord);
  }
  bool Decode(KVEJobHandle job, SettledDestination& settled) override {
    KVEDestinationOptions* decoded = nullptr;
    if (module_.KVEDecodeDestinationOptionsW(job, &decoded) != KVE_OK || !decoded) return false;
    settled.postingKind = decoded->postingKind;
    settled.hasFolder = decoded->folderPath.pointer != nullptr;
    settled.folder = decoded->folderPath.pointer ? decoded->folderPath.pointer : L"";
    settled.profile = decoded->profileName.pointer ? decoded->profileName.pointer : L"";
    module_.KVEFreeDestinationOptionsW(0, decoded);
    return true;
  }
  int Export(KVEJobHandle job) override { return module_.KVEExportToDestinationW(job, &files_->request); }
  bool ErrorText(KVEJobHandle job, std::wstring& text) override {
    const wchar_t* moduleText = module_.KVEGetErrorTextW(job);
    if (!moduleText) return false;
    text = moduleText;
    return true;
  }
  int Encode(KVEJobHandle job, EncodedOptions& encoded) override {
    KVEDestinationOptions* block = nullptr;
    const int result = module_.KVEEncodeDestinationOptionsW(job, &block, &encoded.size);
    encoded.bytes = block;
    if (block) encoded.postingKind = block->postingKind;
    return result;
  }
  void TermExportDestination(KVEJobHandle job) override { module_.KVETermExportDestinationW(job, 0); }
  void Terminate() override { module_.KVETerminateW(); }

 private:
  ExportModule& module_;
  KVEDestinationOptions record_ = {};
  const KVEDestinationOptions* optionsRecord_ = nullptr;
  std::unique_ptr<FileRecords<wchar_t>> files_;
};

// The destination the job settled.
void PrintDestination(ExportCalls& calls, KVEJobHandle job, const Messages& messages, Output& out) {
  SettledDestination settled;
  if (!calls.Decode(job, settled)) return;
  const std::wstring where =
      settled.postingKind == PersonalReport || !settled.hasFolder ? messages.Text(IDS_COMMON_VIEWS) : settled.folder;
  out.Write(messages.Format(IDS_DESTINATION, where.c_str(), settled.profile.c_str(), KindName(settled.postingKind)));
}

// After a successful export: the settled options encoded and saved. The
// exit code.
int SaveSettledOptions(ExportCalls& calls, KVEJobHandle job, const std::wstring& path, bool chosen,
                       const Messages& messages, Output& out, Output& err) {
  EncodedOptions encoded;
  const int encodeResult = calls.Encode(job, encoded);
  if (encodeResult != KVE_OK || !encoded.bytes) {
    err.Write(messages.Format(calls.names().encodeFailed, encodeResult));
    return kExitModuleFailed;
  }
  if (!SaveOptionsBlock(path, encoded.bytes, encoded.size)) {
    err.Write(messages.Format(IDS_SAVE_FAILED, path.c_str(), GetLastError()));
    return kExitModuleFailed;
  }
  out.Write(messages.Format(IDS_OPTIONS_SAVED, path.c_str(), static_cast<unsigned>(encoded.size)));
  NoteSavedKind(encoded.postingKind, chosen, messages, out);
  return kExitSuccess;
}

// The export's outcome: success (and the options saved when asked for), or
// the code with its meaning and the module's error text. The exit code.
int ReportOutcome(ExportCalls& calls, KVEJobHandle job, int result, unsigned count, const HostOptions& options,
                  const Messages& messages, Output& out, Output& err) {
  if (result != KVE_OK) {
    err.Write(messages.Format(calls.names().exportFailed, result, CodeMeaning(messages, result).c_str()));
    std::wstring text;
    if (HasFileMessage(result) && calls.ErrorText(job, text)) err.Write(messages.Format(IDS_ERROR_TEXT, text.c_str()));
    return kExitModuleFailed;
  }
  out.Write(messages.Format(IDS_EXPORT_DONE, count));
  if (options.saveOptionsFile.empty()) return kExitSuccess;
  return SaveSettledOptions(calls, job, options.saveOptionsFile, options.destination.choose, messages, out, err);
}

}  // namespace

int RunExport(ExportCalls& calls, const HostOptions& options, const Messages& messages, Output& out, Output& err) {
  const ExportCalls::Names& names = calls.names();
  std::vector<BYTE> block;
  if (!options.destination.choose && !options.destination.optionsFile.empty() &&
      !ReadOptionsBlock(options.destination.optionsFile, block, messages, err)) {
    return kExitModuleFailed;
  }
  std::vector<std::wstring> paths;
  for (const std::wstring& file : options.files) paths.push_back(FullPath(file));
  if (!calls.Prepare(options, paths, block, messages, err)) return kExitModuleFailed;
  const unsigned count = static_cast<unsigned>(paths.size());

  int result = calls.Initialize();
  if (result != KVE_OK) {
    err.Write(messages.Format(names.initializeFailed, result));
    return kExitModuleFailed;
  }
  const double started = Seconds();
  KVEJobHandle job = nullptr;
  result = calls.InitExportDestination(&job);
  const double setUp = Seconds();
  if (result != KVE_OK) {
    err.Write(messages.Format(names.setupFailed, result, CodeMeaning(messages, result).c_str()));
    if (result == KVE_FAILED) {
      ExplainFailedSetup(LogonOfDestination(options.destination, block, calls.narrow()), messages, err);
    }
    // MAPI stays initialised after a refused setup: the job's end balances it.
    calls.TermExportDestination(nullptr);
    calls.Terminate();
    return kExitModuleFailed;
  }
  PrintDestination(calls, job, messages, out);
  out.Write(messages.Format(names.postingFiles, count));
  for (unsigned i = 0; i < count; ++i) {
    out.Write(messages.Format(IDS_FILE_LINE, i + 1, count, FileNameOf(paths[i]).c_str(), paths[i].c_str()));
  }

  // Timed apart from the lines above: writing them is kvhost's work, not the module's.
  const double exportStart = Seconds();
  result = calls.Export(job);
  const double exported = Seconds();
  const int exitCode = ReportOutcome(calls, job, result, count, options, messages, out, err);
  const double beforeEnd = Seconds();
  calls.TermExportDestination(job);
  const double ended = Seconds();
  calls.Terminate();
  if (options.timing) {
    out.Write(
        messages.Format(IDS_TIMING, setUp - started, exported - exportStart, ended - beforeEnd, PeakWorkingSetMiB()));
  }
  return exitCode;
}

int ExportFiles(ExportModule& module, const HostOptions& options, const Messages& messages, Output& out, Output& err) {
  WideExportCalls calls(module);
  return RunExport(calls, options, messages, out, err);
}
