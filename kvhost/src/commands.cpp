#include "commands.h"

#include "../resources/resource_ids.h"
#include "export_command.h"
#include "export_module.h"
#include "messages.h"
#include "output.h"

namespace {

std::wstring Field(const Messages& messages, UINT label, const std::wstring& value) {
  return messages.Text(label) + L": " + value + L"\n";
}

// The list's identifier: single-byte characters up to the first zero.
std::wstring Identifier(const KVEDestinationList& list) {
  std::wstring identifier;
  for (char c : list.identifier) {
    if (c == '\0') break;
    identifier += static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  return identifier;
}

}  // namespace

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
      out.Write(Field(messages, IDS_LABEL_IDENTIFIER, Identifier(*list)));
      out.Write(Field(messages, IDS_LABEL_NAME, entry->name ? entry->name : L""));
      out.Write(Field(messages, IDS_LABEL_DESCRIPTION, entry->description ? entry->description : L""));
    }
  }
  module.KVETerminateW();
  return exitCode;
}

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
  ExportModule module;
  std::wstring error;
  if (!module.Load(options.modulePath.empty() ? DefaultModulePath() : options.modulePath, messages, &error)) {
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
