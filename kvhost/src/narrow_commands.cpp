#include "narrow_commands.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../resources/resource_ids.h"
#include "commands.h"
#include "export_command.h"
#include "export_module.h"
#include "export_steps.h"
#include "messages.h"
#include "output.h"

namespace {

// The code page's number, for messages.
unsigned CodePageNumber(UINT codePage) {
  if (codePage != CP_THREAD_ACP) return codePage == CP_ACP ? GetACP() : codePage;
  wchar_t number[8] = {};
  GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, number, 8);
  return static_cast<unsigned>(_wtoi(number));
}

std::wstring Widen(const char* text, UINT codePage) {
  if (!text || !*text) return std::wstring();
  int length = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (length <= 1) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text, -1, &wide[0], length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// text in codePage; false (the message written) when a character has no
// exact form there, since a narrow host could not name it.
bool Narrow(const std::wstring& text, UINT codePage, std::string& narrow, const Messages& messages, Output& err) {
  narrow.clear();
  if (!text.empty()) {
    int length = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length > 1) {
      narrow.assign(static_cast<size_t>(length), '\0');
      WideCharToMultiByte(codePage, 0, text.c_str(), -1, &narrow[0], length, nullptr, nullptr);
      narrow.resize(static_cast<size_t>(length - 1));
    }
  }
  if (Widen(narrow.c_str(), codePage) == text) return true;
  err.Write(messages.Format(IDS_NOT_IN_CODE_PAGE, text.c_str(), CodePageNumber(codePage)));
  return false;
}

// The narrow exports: the options record's strings in the system's code
// page, file names and paths in the thread's, as a narrow host gives them.
class NarrowExportCalls : public ExportCalls {
 public:
  explicit NarrowExportCalls(NarrowExportModule& module) : module_(module) {}

  const Names& names() const override {
    static const Names names = {IDS_NARROW_INITIALIZE_FAILED, IDS_NARROW_SETUP_FAILED, IDS_NARROW_POSTING_FILES,
                                IDS_NARROW_EXPORT_FAILED, IDS_NARROW_ENCODE_FAILED};
    return names;
  }
  bool narrow() const override { return true; }

  bool Prepare(const HostOptions& options, const std::vector<std::wstring>& paths, const std::vector<BYTE>& block,
               const Messages& messages, Output& err) override {
    const DestinationOptions& destination = options.destination;
    optionsRecord_ = &record_;
    if (destination.choose) {
      optionsRecord_ = nullptr;  // the module's dialogs settle the destination
    } else if (!destination.optionsFile.empty()) {
      optionsRecord_ = reinterpret_cast<const KVEDestinationOptionsA*>(block.data());
    } else {
      if (!Narrow(destination.profile, CP_ACP, profile_, messages, err) ||
          !Narrow(destination.password, CP_ACP, password_, messages, err) ||
          !Narrow(destination.folder, CP_ACP, folder_, messages, err)) {
        return false;
      }
      record_.structSize = sizeof record_;
      record_.profileName.pointer = profile_.c_str();
      record_.password.pointer = destination.passwordGiven ? password_.c_str() : nullptr;
      record_.postingKind = destination.postingKind;
      record_.folderPath.pointer = destination.folderGiven ? folder_.c_str() : nullptr;
      record_.blockSize = 0;
    }

    std::vector<std::string> narrowPaths(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
      if (!Narrow(paths[i], CP_THREAD_ACP, narrowPaths[i], messages, err)) return false;
    }
    files_ = std::make_unique<FileRecords<char>>(std::move(narrowPaths),
                                                 options.languageGiven ? options.language : LANG_USER_DEFAULT);
    return true;
  }
  int Initialize() override { return module_.KVEInitialize(0); }
  int InitExportDestination(KVEJobHandle* job) override {
    KVEJobRecordA* jobRecord = nullptr;
    return module_.KVEInitExportDestination(nullptr, 0, optionsRecord_, &files_->info, job, &jobRecord);
  }
  bool Decode(KVEJobHandle job, SettledDestination& settled) override {
    KVEDestinationOptionsA* decoded = nullptr;
    if (module_.KVEDecodeDestinationOptions(job, &decoded) != KVE_OK || !decoded) return false;
    // The options record's strings are in the system's code page.
    settled.postingKind = decoded->postingKind;
    settled.hasFolder = decoded->folderPath.pointer != nullptr;
    settled.folder = Widen(decoded->folderPath.pointer, CP_ACP);
    settled.profile = Widen(decoded->profileName.pointer, CP_ACP);
    module_.KVEFreeDestinationOptions(0, decoded);
    return true;
  }
  int Export(KVEJobHandle job) override { return module_.KVEExportToDestination(job, &files_->request); }
  bool ErrorText(KVEJobHandle job, std::wstring& text) override {
    const char* moduleText = module_.KVEGetErrorText(job);
    if (!moduleText) return false;
    text = Widen(moduleText, CP_THREAD_ACP);
    return true;
  }
  int Encode(KVEJobHandle job, EncodedOptions& encoded) override {
    KVEDestinationOptionsA* block = nullptr;
    const int result = module_.KVEEncodeDestinationOptions(job, &block, &encoded.size);
    encoded.bytes = block;
    if (block) encoded.postingKind = block->postingKind;
    return result;
  }
  void TermExportDestination(KVEJobHandle job) override { module_.KVETermExportDestination(job, 0); }
  void Terminate() override { module_.KVETerminate(); }

 private:
  NarrowExportModule& module_;
  std::string profile_, password_, folder_;
  KVEDestinationOptionsA record_ = {};
  const KVEDestinationOptionsA* optionsRecord_ = nullptr;
  std::unique_ptr<FileRecords<char>> files_;
};

}  // namespace

int ListDestinationsNarrow(NarrowExportModule& module, const Messages& messages, Output& out, Output& err) {
  int result = module.KVEInitialize(0);
  if (result != KVE_OK) {
    err.Write(messages.Format(IDS_NARROW_INITIALIZE_FAILED, result));
    return kExitModuleFailed;
  }
  const KVEDestinationListA* list = module.KVEGetExportDestinations();
  int exitCode = kExitSuccess;
  if (!list) {
    err.Write(messages.Text(IDS_NO_DESTINATIONS));
    exitCode = kExitModuleFailed;
  } else {
    for (uint16_t i = 0; i < list->count; ++i) {
      const KVEDestinationEntryA* entry = list->entries ? list->entries[i] : nullptr;
      if (!entry) continue;
      if (i > 0) out.Write(L"\n");
      PrintDestinationEntry(messages, out, IdentifierText(list->identifier), Widen(entry->name, CP_THREAD_ACP),
                            Widen(entry->description, CP_THREAD_ACP));
    }
  }
  module.KVETerminate();
  return exitCode;
}

int ExportFilesNarrow(NarrowExportModule& module, const HostOptions& options, const Messages& messages, Output& out,
                      Output& err) {
  NarrowExportCalls calls(module);
  return RunExport(calls, options, messages, out, err);
}
