// kvhost.exe: a command-line host for KV2FOLD.dll.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "messages.h"
#include "output.h"

int main() {
  try {
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; words && i < count; ++i) arguments.emplace_back(words[i]);
    LocalFree(words);

    Messages messages;
    StandardOutput out(STD_OUTPUT_HANDLE);
    StandardOutput err(STD_ERROR_HANDLE);
    return RunHost(ParseCommandLine(arguments), messages, out, err);
  } catch (...) {
    return kExitModuleFailed;
  }
}
