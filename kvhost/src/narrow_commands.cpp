#include "narrow_commands.h"

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

void PrintDestination(NarrowExportModule& module, KVEJobHandle job, const Messages& messages, Output& out) {
  KVEDestinationOptionsA* settled = nullptr;
  if (module.KVEDecodeDestinationOptions(job, &settled) != KVE_OK || !settled) return;
  // The options record's strings are in the system's code page.
  const char* folder = settled->folderPath.pointer;
  const std::wstring where = settled->postingKind == PersonalReport || !folder ? messages.Text(IDS_COMMON_VIEWS)
                                                                                : Widen(folder, CP_ACP);
  const std::wstring profile = Widen(settled->profileName.pointer, CP_ACP);
  out.Write(messages.Format(IDS_DESTINATION, where.c_str(), profile.c_str(), KindName(settled->postingKind)));
  module.KVEFreeDestinationOptions(0, settled);
}

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
  const DestinationOptions& destination = options.destination;
  std::vector<BYTE> block;
  std::string profile, password, folder;
  KVEDestinationOptionsA record = {};
  const KVEDestinationOptionsA* optionsRecord = &record;
  if (destination.choose) {
    optionsRecord = nullptr;  // the module's dialogs settle the destination
  } else if (!destination.optionsFile.empty()) {
    if (!ReadOptionsBlock(destination.optionsFile, block, messages, err)) return kExitModuleFailed;
    optionsRecord = reinterpret_cast<const KVEDestinationOptionsA*>(block.data());
  } else {
    if (!Narrow(destination.profile, CP_ACP, profile, messages, err) ||
        !Narrow(destination.password, CP_ACP, password, messages, err) ||
        !Narrow(destination.folder, CP_ACP, folder, messages, err)) {
      return kExitModuleFailed;
    }
    record.structSize = sizeof record;
    record.profileName.pointer = profile.c_str();
    record.password.pointer = destination.passwordGiven ? password.c_str() : nullptr;
    record.postingKind = destination.postingKind;
    record.folderPath.pointer = destination.folderGiven ? folder.c_str() : nullptr;
    record.blockSize = 0;
  }

  // The host's records: each file posted under its own name, from its full path.
  const size_t count = options.files.size();
  std::vector<std::wstring> paths;
  std::vector<std::string> narrowPaths(count);
  for (size_t i = 0; i < count; ++i) {
    paths.push_back(FullPath(options.files[i]));
    if (!Narrow(paths[i], CP_THREAD_ACP, narrowPaths[i], messages, err)) return kExitModuleFailed;
  }
  std::vector<KVEExportFileA> files(count);
  std::vector<KVEExportFileA*> filePointers(count);
  std::vector<const char*> pathPointers(count);
  for (size_t i = 0; i < count; ++i) {
    files[i].structSize = sizeof(KVEExportFileA);
    files[i].useFileName = 1;
    files[i].fileName = narrowPaths[i].c_str();
    filePointers[i] = &files[i];
    pathPointers[i] = narrowPaths[i].c_str();
  }
  KVEExportInfoA info = {};
  info.structSize = sizeof info;
  info.fileCount = static_cast<uint16_t>(count);
  info.files = filePointers.data();
  info.language = options.languageGiven ? options.language : LANG_USER_DEFAULT;
  KVEExportRequestA request = {};
  request.structSize = sizeof request;
  request.count = static_cast<uint16_t>(count);
  request.paths = pathPointers.data();

  int result = module.KVEInitialize(0);
  if (result != KVE_OK) {
    err.Write(messages.Format(IDS_NARROW_INITIALIZE_FAILED, result));
    return kExitModuleFailed;
  }
  const double started = Seconds();
  KVEJobHandle job = nullptr;
  KVEJobRecordA* jobRecord = nullptr;
  result = module.KVEInitExportDestination(nullptr, 0, optionsRecord, &info, &job, &jobRecord);
  const double setUp = Seconds();
  if (result != KVE_OK) {
    err.Write(messages.Format(IDS_NARROW_SETUP_FAILED, result, CodeMeaning(messages, result).c_str()));
    if (result == KVE_FAILED) ExplainFailedSetup(LogonOfDestination(destination, block, true), messages, err);
    // As with the wide exports, the job's end follows a refused setup.
    module.KVETermExportDestination(nullptr, 0);
    module.KVETerminate();
    return kExitModuleFailed;
  }
  PrintDestination(module, job, messages, out);
  out.Write(messages.Format(IDS_NARROW_POSTING_FILES, static_cast<unsigned>(count)));
  for (size_t i = 0; i < count; ++i) {
    out.Write(messages.Format(IDS_FILE_LINE, static_cast<unsigned>(i + 1), static_cast<unsigned>(count),
                              FileNameOf(paths[i]).c_str(), paths[i].c_str()));
  }

  const double exportStart = Seconds();
  result = module.KVEExportToDestination(job, &request);
  const double exported = Seconds();
  int exitCode = kExitSuccess;
  if (result == KVE_OK) {
    out.Write(messages.Format(IDS_EXPORT_DONE, static_cast<unsigned>(count)));
    if (!options.saveOptionsFile.empty()) {
      KVEDestinationOptionsA* encoded = nullptr;
      WORD size = 0;
      int encodeResult = module.KVEEncodeDestinationOptions(job, &encoded, &size);
      if (encodeResult != KVE_OK || !encoded) {
        err.Write(messages.Format(IDS_NARROW_ENCODE_FAILED, encodeResult));
        exitCode = kExitModuleFailed;
      } else if (!SaveOptionsBlock(options.saveOptionsFile, encoded, size)) {
        err.Write(messages.Format(IDS_SAVE_FAILED, options.saveOptionsFile.c_str(), GetLastError()));
        exitCode = kExitModuleFailed;
      } else {
        out.Write(messages.Format(IDS_OPTIONS_SAVED, options.saveOptionsFile.c_str(), static_cast<unsigned>(size)));
        NoteSavedKind(encoded->postingKind, destination.choose, messages, out);
      }
    }
  } else {
    err.Write(messages.Format(IDS_NARROW_EXPORT_FAILED, result, CodeMeaning(messages, result).c_str()));
    const char* text = module.KVEGetErrorText(job);
    if (HasFileMessage(result) && text) {
      err.Write(messages.Format(IDS_ERROR_TEXT, Widen(text, CP_THREAD_ACP).c_str()));
    }
    exitCode = kExitModuleFailed;
  }
  const double beforeEnd = Seconds();
  module.KVETermExportDestination(job, 0);
  const double ended = Seconds();
  module.KVETerminate();
  if (options.timing) {
    out.Write(
        messages.Format(IDS_TIMING, setUp - started, exported - exportStart, ended - beforeEnd, PeakWorkingSetMiB()));
  }
  return exitCode;
}
