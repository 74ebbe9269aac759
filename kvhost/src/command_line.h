// kvhost's command line: every argument is read here, into HostOptions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

enum class HostCommand { None, Help, ListDestinations, Export };

// Where an export goes: given piece by piece, or as a saved options block.
struct DestinationOptions {
  bool profileGiven = false;
  std::wstring profile;
  bool passwordGiven = false;  // without it the record holds no password
  std::wstring password;
  uint16_t postingKind = 0;  // 1009, 1010 or 1011; 0 until settled
  bool folderGiven = false;
  std::wstring folder;
  std::wstring optionsFile;  // a block saved by --save-options
  bool choose = false;       // --choose: no options record, the module asks the user
};

struct HostOptions {
  HostCommand command = HostCommand::None;
  bool languageGiven = false;
  DWORD language = 0;       // with --language
  std::wstring modulePath;  // empty: KV2FOLD.dll beside kvhost.exe
  bool ansi = false;        // --ansi: through the narrow exports
  // --export
  std::vector<std::wstring> files;
  DestinationOptions destination;
  std::wstring saveOptionsFile;  // empty: the options are not saved
  bool timing = false;
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
// A posting kind: personal, folder, instance (any case) or 1009, 1010, 1011.
bool ParsePostingKind(const std::wstring& text, uint16_t* kind);
