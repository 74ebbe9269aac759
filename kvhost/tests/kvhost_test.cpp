// kvhost: the command line, the commands against the real KV2FOLD.dll (output
// captured), and the program itself writing UTF-8 into a pipe.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../resources/resource_ids.h"
#include "command_line.h"
#include "commands.h"
#include "messages.h"
#include "output.h"
#include "zqlocale/zqlocale.h"

namespace {

// Sets KV_USER_LANGUAGE for one test and removes it afterwards.
class ScopedUserLanguage {
 public:
  explicit ScopedUserLanguage(const wchar_t* value) { SetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, value); }
  ~ScopedUserLanguage() { SetEnvironmentVariableW(ZQLOCALE_USER_LANGUAGE_VARIABLE, nullptr); }
};

const wchar_t kGermanDescription[] =
    L"Beim Export in einen Microsoft Exchange-Ordner wird der Bericht im angegebenen Format in einen "
    L"Exchange-Ordner exportiert, sodass \u00fcber einen Microsoft Exchange-Client wie Microsoft Outlook auf den "
    L"exportierten Bericht zugegriffen werden kann.";
TEST(KvhostCommandLine, ParsesCommandsOptionsAndMistakes) {
  const DWORD kNone = 0xFFFFFFFF;  // no --language
  struct Case {
    std::vector<std::wstring> arguments;
    HostCommand command;  // None: a mistake, reported as error/errorArgument
    DWORD language;
    std::wstring moduleOrError;
    UINT error;
  } cases[] = {
      {{L"--help"}, HostCommand::Help, kNone, L"", 0},
      {{L"--list-destinations"}, HostCommand::ListDestinations, kNone, L"", 0},
      {{L"--list-destinations", L"--language", L"0407"}, HostCommand::ListDestinations, 0x0407, L"", 0},
      {{L"--language=0x0c07", L"--list-destinations"}, HostCommand::ListDestinations, 0x0C07, L"", 0},
      {{L"--list-destinations", L"--module", L"C:\\x.dll"}, HostCommand::ListDestinations, kNone, L"C:\\x.dll", 0},
      {{L"--list-destinations", L"--help"}, HostCommand::Help, kNone, L"", 0},
      {{}, HostCommand::None, kNone, L"", IDS_NO_COMMAND},
      {{L"--language", L"0407"}, HostCommand::None, kNone, L"", IDS_NO_COMMAND},
      {{L"--list-destinations", L"--language"}, HostCommand::None, kNone, L"--language", IDS_MISSING_VALUE},
      {{L"--language=", L"--list-destinations"}, HostCommand::None, kNone, L"--language", IDS_MISSING_VALUE},
      {{L"--list-destinations", L"--language", L"12345"}, HostCommand::None, kNone, L"12345", IDS_BAD_LANGUAGE},
      {{L"--list-destinations", L"--language", L"deu"}, HostCommand::None, kNone, L"deu", IDS_BAD_LANGUAGE},
      {{L"--frobnicate"}, HostCommand::None, kNone, L"--frobnicate", IDS_UNKNOWN_ARGUMENT},
  };
  for (const Case& c : cases) {
    std::wstring line;
    for (const std::wstring& a : c.arguments) line += a + L" ";
    SCOPED_TRACE(testing::PrintToString(line));
    ParsedCommandLine parsed = ParseCommandLine(c.arguments);
    ASSERT_EQ(c.command != HostCommand::None, parsed.ok);
    if (parsed.ok) {
      EXPECT_EQ(c.command, parsed.options.command);
      EXPECT_EQ(c.language != kNone, parsed.options.languageGiven);
      if (c.language != kNone) {
        EXPECT_EQ(c.language, parsed.options.language);
      }
      EXPECT_EQ(c.moduleOrError, parsed.options.modulePath);
    } else {
      EXPECT_EQ(c.error, parsed.errorMessage);
      EXPECT_EQ(c.moduleOrError, parsed.errorArgument);
    }
  }
}

struct RunResult {
  int exitCode;
  std::wstring out;
  std::wstring err;
};

RunResult RunKvhost(const std::vector<std::wstring>& arguments) {
  Messages messages;
  StringOutput out;
  StringOutput err;
  int exitCode = RunHost(ParseCommandLine(arguments), messages, out, err);
  return {exitCode, out.text(), err.text()};
}

TEST(KvhostCommands, ListsInTheRequestedOrTheUserLanguage) {
  {
    ScopedUserLanguage english(L"0409");
    RunResult german = RunKvhost({L"--list-destinations", L"--language", L"0407"});
    EXPECT_EQ(kExitSuccess, german.exitCode);
    EXPECT_EQ(std::wstring(L"identifier: qfold\nname: Exchange-Ordner\ndescription: ") + kGermanDescription + L"\n",
              german.out);
    EXPECT_EQ(L"", german.err);
    EXPECT_EQ(0u, RunKvhost({L"--list-destinations"}).out.find(L"identifier: qfold\nname: Exchange Folder\n"));
  }
  // A German user gets German from the module and from kvhost itself.
  ScopedUserLanguage german(L"0407");
  RunResult result = RunKvhost({L"--list-destinations"});
  EXPECT_EQ(std::wstring(L"Kennung: qfold\nName: Exchange-Ordner\nBeschreibung: ") + kGermanDescription + L"\n",
            result.out);
  EXPECT_EQ(0u, RunKvhost({L"--help"}).out.find(L"Aufruf: kvhost"));
}

TEST(KvhostCommands, FailuresGoToTheErrorStreamWithTheirExitCodes) {
  ScopedUserLanguage english(L"0409");
  RunResult unknown = RunKvhost({L"--frobnicate"});
  EXPECT_EQ(kExitUsage, unknown.exitCode);
  EXPECT_EQ(L"", unknown.out);
  EXPECT_EQ(L"kvhost: unknown argument \"--frobnicate\" (see kvhost --help)\n", unknown.err);

  RunResult missing = RunKvhost({L"--list-destinations", L"--module", L"no_such_module.dll"});
  EXPECT_EQ(kExitModuleFailed, missing.exitCode);
  EXPECT_EQ(0u, missing.err.find(L"kvhost: cannot load no_such_module.dll (error "))
      << testing::PrintToString(missing.err);

  RunResult wrongModule = RunKvhost({L"--list-destinations", L"--module", L"zqlocale-1-0.dll"});
  EXPECT_EQ(kExitModuleFailed, wrongModule.exitCode);
  EXPECT_EQ(L"kvhost: zqlocale-1-0.dll does not export KVEInitializeW\n", wrongModule.err);

  // The Dutch test set lacks string 1, so the module cannot initialise.
  ScopedUserLanguage dutch(L"0413");
  RunResult uninitialised = RunKvhost({L"--list-destinations"});
  EXPECT_EQ(kExitModuleFailed, uninitialised.exitCode);
  EXPECT_EQ(L"kvhost: KVEInitializeW failed with code 7\n", uninitialised.err);
  EXPECT_EQ(L"", uninitialised.out);
}

// The program itself, with its output in a pipe: UTF-8 bytes and exit code 0.
TEST(KvhostProgram, WritesUtf8IntoAPipe) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring commandLine = L"kvhost.exe --list-destinations --language 0407";
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                &process);
  CloseHandle(writeEnd);
  ASSERT_TRUE(started) << GetLastError();
  std::string bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(readEnd, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, 30000);
  DWORD exitCode = 99;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(0u, exitCode);
  EXPECT_NE(std::string::npos, bytes.find("name: Exchange-Ordner\n")) << bytes;
  EXPECT_NE(std::string::npos, bytes.find("sodass \xC3\xBC" "ber einen")) << "u-umlaut as UTF-8";
}

}  // namespace
