#include "command_line.h"

#include "../resources/resource_ids.h"

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

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
  ParsedCommandLine parsed;
  HostOptions& options = parsed.options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    HostCommand command = HostCommand::None;
    std::wstring value;
    bool missing = false;
    if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
      command = HostCommand::Help;
    } else if (argument == L"--list-destinations") {
      command = HostCommand::ListDestinations;
    } else if (OptionWithValue(arguments, i, L"--language", &value, &missing)) {
      if (missing) return Failure(IDS_MISSING_VALUE, L"--language");
      if (!ParseLanguage(value, &options.language)) return Failure(IDS_BAD_LANGUAGE, value);
      options.languageGiven = true;
    } else if (OptionWithValue(arguments, i, L"--module", &value, &missing)) {
      if (missing) return Failure(IDS_MISSING_VALUE, L"--module");
      options.modulePath = value;
    } else {
      return Failure(IDS_UNKNOWN_ARGUMENT, argument);
    }
    if (command != HostCommand::None) {
      // --help wins over anything else; two different commands are an error.
      if (options.command == HostCommand::Help || command == HostCommand::Help) {
        options.command = HostCommand::Help;
      } else if (options.command != HostCommand::None && options.command != command) {
        return Failure(IDS_TWO_COMMANDS, argument);
      } else {
        options.command = command;
      }
    }
  }
  if (options.command == HostCommand::None) return Failure(IDS_NO_COMMAND, L"");
  parsed.ok = true;
  return parsed;
}
