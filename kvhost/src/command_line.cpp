#include "command_line.h"

#include "../resources/resource_ids.h"
#include "interface/kve_api.h"

bool ParseLanguage(const std::wstring& text, DWORD* language) {
  size_t start = text.compare(0, 2, L"0x") == 0 || text.compare(0, 2, L"0X") == 0 ? 2 : 0;
  size_t digits = text.size() - start;
  if (digits == 0 || digits > 4) return false;
  DWORD value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    wchar_t c = text[i];
    int digit = c >= L'0' && c <= L'9' ? c - L'0'
                : c >= L'a' && c <= L'f' ? c - L'a' + 10
                : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                         : -1;
    if (digit < 0) return false;
    value = value * 16 + static_cast<DWORD>(digit);
  }
  *language = value;
  return true;
}

bool ParsePostingKind(const std::wstring& text, uint16_t* kind) {
  const struct {
    const wchar_t* name;
    const wchar_t* number;
    uint16_t kind;
  } kinds[] = {{L"personal", L"1009", PersonalReport},
               {L"folder", L"1010", FolderReport},
               {L"instance", L"1011", ReportInstance}};
  for (const auto& k : kinds) {
    if (_wcsicmp(text.c_str(), k.name) == 0 || text == k.number) {
      *kind = k.kind;
      return true;
    }
  }
  return false;
}

namespace {

ParsedCommandLine Failure(UINT message, const std::wstring& argument) {
  ParsedCommandLine parsed;
  parsed.errorMessage = message;
  parsed.errorArgument = argument;
  return parsed;
}

// "--name value" or "--name=value": true when argument is the option name;
// value is then taken from the same or the next argument.
bool OptionWithValue(const std::vector<std::wstring>& arguments, size_t& index, const wchar_t* name,
                     std::wstring* value, bool* missing) {
  const std::wstring& argument = arguments[index];
  std::wstring prefix = std::wstring(name) + L"=";
  if (argument.compare(0, prefix.size(), prefix) == 0) {
    *value = argument.substr(prefix.size());
    *missing = value->empty();
    return true;
  }
  if (argument != name) return false;
  *missing = index + 1 >= arguments.size();
  if (!*missing) *value = arguments[++index];
  return true;
}

// Checks the export's options as a whole and settles the posting kind.
ParsedCommandLine CheckExport(ParsedCommandLine parsed) {
  HostOptions& options = parsed.options;
  DestinationOptions& destination = options.destination;
  if (options.files.size() > 0xFFFF) return Failure(IDS_TOO_MANY_FILES, L"");
  const bool pieces = destination.profileGiven || destination.passwordGiven || destination.postingKind != 0 ||
                      destination.folderGiven;
  if (destination.choose) {
    if (pieces || !destination.optionsFile.empty()) return Failure(IDS_DESTINATION_TWICE, L"");
    parsed.ok = true;
    return parsed;
  }
  if (!destination.optionsFile.empty()) {
    if (pieces) return Failure(IDS_DESTINATION_TWICE, L"");
    parsed.ok = true;
    return parsed;
  }
  if (!pieces) return Failure(IDS_NO_DESTINATION, L"");
  if (!destination.profileGiven) return Failure(IDS_MISSING_OPTION, L"--profile");
  if (destination.postingKind == 0) destination.postingKind = destination.folderGiven ? FolderReport : PersonalReport;
  if (destination.postingKind == PersonalReport && destination.folderGiven) {
    return Failure(IDS_FOLDER_WITH_PERSONAL, L"");
  }
  if (destination.postingKind != PersonalReport && !destination.folderGiven) {
    return Failure(IDS_MISSING_OPTION, L"--folder");
  }
  parsed.ok = true;
  return parsed;
}

// The options that take a value ("--name value" or "--name=value"). False
// when arguments[index] is none of them; else true, with a failure in
// failed.errorMessage when its value is missing or cannot be read.
bool TakeValueOption(const std::vector<std::wstring>& arguments, size_t& index, HostOptions& options,
                     std::vector<std::wstring>& exportOptions, ParsedCommandLine& failed) {
  const std::wstring argument = arguments[index];
  DestinationOptions& destination = options.destination;
  std::wstring value;
  bool missing = false;
  auto fail = [&](UINT message, const std::wstring& what) {
    failed = Failure(message, what);
    return true;
  };
  if (OptionWithValue(arguments, index, L"--language", &value, &missing)) {
    if (missing) return fail(IDS_MISSING_VALUE, L"--language");
    if (!ParseLanguage(value, &options.language)) return fail(IDS_BAD_LANGUAGE, value);
    options.languageGiven = true;
  } else if (OptionWithValue(arguments, index, L"--module", &value, &missing)) {
    if (missing) return fail(IDS_MISSING_VALUE, L"--module");
    options.modulePath = value;
  } else if (OptionWithValue(arguments, index, L"--profile", &value, &missing)) {
    if (missing) return fail(IDS_MISSING_VALUE, L"--profile");
    // The module would take a record without a profile name for a lack of memory.
    if (value.empty()) return fail(IDS_EMPTY_PROFILE, L"");
    destination.profileGiven = true;
    destination.profile = value;
    exportOptions.push_back(L"--profile");
  } else if (OptionWithValue(arguments, index, L"--password", &value, &missing)) {
    // "--password=" gives an empty password; "--password" needs a value after it.
    if (missing && argument == L"--password") return fail(IDS_MISSING_VALUE, L"--password");
    destination.passwordGiven = true;
    destination.password = value;
    exportOptions.push_back(L"--password");
  } else if (OptionWithValue(arguments, index, L"--kind", &value, &missing)) {
    if (missing) return fail(IDS_MISSING_VALUE, L"--kind");
    if (!ParsePostingKind(value, &destination.postingKind)) return fail(IDS_BAD_KIND, value);
    exportOptions.push_back(L"--kind");
  } else if (OptionWithValue(arguments, index, L"--folder", &value, &missing)) {
    if (missing) return fail(IDS_MISSING_VALUE, L"--folder");
    destination.folderGiven = true;
    destination.folder = value;
    exportOptions.push_back(L"--folder");
  } else if (OptionWithValue(arguments, index, L"--options-file", &value, &missing)) {
    if (missing) return fail(IDS_MISSING_VALUE, L"--options-file");
    destination.optionsFile = value;
    exportOptions.push_back(L"--options-file");
  } else if (OptionWithValue(arguments, index, L"--save-options", &value, &missing)) {
    if (missing) return fail(IDS_MISSING_VALUE, L"--save-options");
    options.saveOptionsFile = value;
    exportOptions.push_back(L"--save-options");
  } else {
    return false;
  }
  return true;
}

// The command an argument names, or None.
HostCommand CommandOf(const std::wstring& argument) {
  if (argument == L"--help" || argument == L"-h" || argument == L"/?") return HostCommand::Help;
  if (argument == L"--list-destinations") return HostCommand::ListDestinations;
  if (argument == L"--export") return HostCommand::Export;
  return HostCommand::None;
}

// --help wins over anything else; two different commands are an error (false).
bool MergeCommand(HostCommand& current, HostCommand command) {
  if (current == HostCommand::Help || command == HostCommand::Help) {
    current = HostCommand::Help;
  } else if (current != HostCommand::None && current != command) {
    return false;
  } else {
    current = command;
  }
  return true;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
  ParsedCommandLine parsed;
  HostOptions& options = parsed.options;
  std::vector<std::wstring> exportOptions;  // files and options only --export takes, in order
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    const HostCommand command = optionsEnded ? HostCommand::None : CommandOf(argument);
    ParsedCommandLine failed;
    if (optionsEnded || argument.empty() || argument[0] != L'-' || argument == L"-") {
      options.files.push_back(argument);
      exportOptions.push_back(argument);
    } else if (argument == L"--") {
      optionsEnded = true;
    } else if (command != HostCommand::None) {
      if (!MergeCommand(options.command, command)) return Failure(IDS_TWO_COMMANDS, argument);
    } else if (TakeValueOption(arguments, i, options, exportOptions, failed)) {
      if (failed.errorMessage != 0) return failed;
    } else if (argument == L"--ansi") {
      options.ansi = true;
    } else if (argument == L"--choose") {
      options.destination.choose = true;
      exportOptions.push_back(L"--choose");
    } else if (argument == L"--timing") {
      options.timing = true;
      exportOptions.push_back(L"--timing");
    } else {
      return Failure(IDS_UNKNOWN_ARGUMENT, argument);
    }
  }
  if (options.command == HostCommand::None) return Failure(IDS_NO_COMMAND, L"");
  if (options.command == HostCommand::Help) {
    parsed.ok = true;
    return parsed;
  }
  if (options.command != HostCommand::Export) {
    if (!exportOptions.empty()) return Failure(IDS_EXPORT_ONLY, exportOptions.front());
    // The narrow list has no form by language: it follows the user's.
    if (options.ansi && options.languageGiven) return Failure(IDS_ANSI_LIST_LANGUAGE, L"");
    parsed.ok = true;
    return parsed;
  }
  return CheckExport(parsed);
}
