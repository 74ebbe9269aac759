#include "commands.h"

#include "../resources/resource_ids.h"
#include "export_command.h"
#include "export_module.h"
#include "export_steps.h"
#include "messages.h"
#include "narrow_commands.h"
#include "output.h"

int ListDestinations(ExportModule& module, const HostOptions& options, const Messages& messages, Output& out,
                     Output& err) {
  int result = module.KVEInitializeW(0);
  if (result != KVE_OK) {
    err.Write(messages.Format(IDS_INITIALIZE_FAILED, result));
    return kExitModuleFailed;
  }
  KVEDestinationList* list = options.languageGiven ? module.KVEGetExportDestinationsExW(options.language)
                                                   : module.KVEGetExportDestinationsW();
  int exitCode = kExitSuccess;
  if (!list) {
    err.Write(messages.Text(IDS_NO_DESTINATIONS));
    exitCode = kExitModuleFailed;
  } else {
    for (uint16_t i = 0; i < list->count; ++i) {
      const KVEDestinationEntry* entry = list->entries ? list->entries[i] : nullptr;
      if (!entry) continue;
      if (i > 0) out.Write(L"\n");
      PrintDestinationEntry(messages, out, IdentifierText(list->identifier), entry->name ? entry->name : L"",
                            entry->description ? entry->description : L"");
    }
  }
  module.KVETerminateW();
  return exitCode;
}

namespace {

// kvhost --ansi: the same commands through the narrow exports.
int RunNarrow(const std::wstring& modulePath, const HostOptions& options, const Messages& messages, Output& out,
              Output& err) {
  NarrowExportModule module;
  std::wstring error;
  if (!module.Load(modulePath, messages, &error)) {
    err.Write(error);
    return kExitModuleFailed;
  }
  switch (options.command) {
    case HostCommand::ListDestinations:
      return ListDestinationsNarrow(module, messages, out, err);
    case HostCommand::Export:
      return ExportFilesNarrow(module, options, messages, out, err);
    default:
      return kExitUsage;
  }
}

}  // namespace

int RunHost(const ParsedCommandLine& commandLine, const Messages& messages, Output& out, Output& err) {
  if (!commandLine.ok) {
    err.Write(messages.Format(commandLine.errorMessage, commandLine.errorArgument.c_str()));
    return kExitUsage;
  }
  const HostOptions& options = commandLine.options;
  if (options.command == HostCommand::Help) {
    out.Write(messages.Text(IDS_USAGE));
    return kExitSuccess;
  }
  const std::wstring modulePath = options.modulePath.empty() ? DefaultModulePath() : options.modulePath;
  std::wstring error;
  if (options.ansi) return RunNarrow(modulePath, options, messages, out, err);
  ExportModule module;
  if (!module.Load(modulePath, messages, &error)) {
    err.Write(error);
    return kExitModuleFailed;
  }
  switch (options.command) {
    case HostCommand::ListDestinations:
      return ListDestinations(module, options, messages, out, err);
    case HostCommand::Export:
      return ExportFiles(module, options, messages, out, err);
    default:
      return kExitUsage;
  }
}
