// kvhost's command line: every argument is read here, into HostOptions.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class HostCommand { None, Help, ListDestinations };

struct HostOptions {
  HostCommand command = HostCommand::None;
  bool languageGiven = false;
  DWORD language = 0;       // with --language
  std::wstring modulePath;  // empty: KV2FOLD.dll beside kvhost.exe
};

// The outcome of parsing: options, or the message (resource id) and the
// argument it names.
struct ParsedCommandLine {
  bool ok = false;
  HostOptions options;
  UINT errorMessage = 0;
  std::wstring errorArgument;
};

// arguments excludes the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& arguments);

// A language identifier as hexadecimal text: 1 to 4 digits, optional "0x".
bool ParseLanguage(const std::wstring& text, DWORD* language);
