// kvhost: the command line, the commands against the real KV2FOLD.dll (output
// captured), and the program itself writing UTF-8 into a pipe.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../resources/resource_ids.h"
#include "command_line.h"
#include "commands.h"
#include "interface/kve_api.h"
#include "kvtest/dialog_driver.h"
#include "kvtest/profile_fixture.h"
#include "kvtest/stored_messages.h"
#include "messages.h"
#include "output.h"

namespace {

using kvtest::ScopedUserLanguage;

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
      {{L"--list-destinations", L"a.pdf"}, HostCommand::None, kNone, L"a.pdf", IDS_EXPORT_ONLY},
      {{L"--list-destinations", L"--profile", L"Work"}, HostCommand::None, kNone, L"--profile", IDS_EXPORT_ONLY},
      {{L"--export", L"a.pdf"}, HostCommand::None, kNone, L"", IDS_NO_DESTINATION},
      {{L"--export", L"--folder", L"M#I"}, HostCommand::None, kNone, L"--profile", IDS_MISSING_OPTION},
      {{L"--export", L"--profile", L"W", L"--kind", L"folder"}, HostCommand::None, kNone, L"--folder",
       IDS_MISSING_OPTION},
      {{L"--export", L"--profile", L"W", L"--kind", L"personal", L"--folder", L"M"}, HostCommand::None, kNone, L"",
       IDS_FOLDER_WITH_PERSONAL},
      {{L"--export", L"--profile", L"W", L"--kind", L"public"}, HostCommand::None, kNone, L"public", IDS_BAD_KIND},
      {{L"--export", L"--options-file", L"o.kvo", L"--profile", L"W"}, HostCommand::None, kNone, L"",
       IDS_DESTINATION_TWICE},
      {{L"--export", L"--profile", L"W", L"--password"}, HostCommand::None, kNone, L"--password", IDS_MISSING_VALUE},
      {{L"--export", L"--choose", L"--profile", L"W"}, HostCommand::None, kNone, L"", IDS_DESTINATION_TWICE},
      {{L"--export", L"--options-file", L"o.kvo", L"--choose"}, HostCommand::None, kNone, L"", IDS_DESTINATION_TWICE},
      {{L"--list-destinations", L"--choose"}, HostCommand::None, kNone, L"--choose", IDS_EXPORT_ONLY},
      {{L"--export", L"--profile", L"", L"--folder", L"M", L"a.pdf"}, HostCommand::None, kNone, L"",
       IDS_EMPTY_PROFILE},
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

TEST(KvhostCommandLine, SettlesTheExportsDestination) {
  struct Case {
    std::vector<std::wstring> arguments;
    uint16_t kind;
    const wchar_t* password;  // null: none given
    std::vector<std::wstring> files;
  } cases[] = {
      {{L"--export", L"--profile", L"W", L"--folder", L"M#I", L"a.pdf", L"b.txt"}, FolderReport, nullptr,
       {L"a.pdf", L"b.txt"}},
      {{L"--export", L"--profile=W", L"--password=", L"--kind", L"Personal"}, PersonalReport, L"", {}},
      {{L"--export", L"--profile", L"W", L"--password", L"s", L"--kind", L"1011", L"--folder", L"M", L"--", L"-x"},
       ReportInstance, L"s", {L"-x"}},
  };
  for (const Case& c : cases) {
    ParsedCommandLine parsed = ParseCommandLine(c.arguments);
    ASSERT_TRUE(parsed.ok) << parsed.errorMessage;
    const DestinationOptions& destination = parsed.options.destination;
    EXPECT_EQ(HostCommand::Export, parsed.options.command);
    EXPECT_EQ(L"W", destination.profile);
    EXPECT_EQ(c.kind, destination.postingKind);
    EXPECT_EQ(c.password != nullptr, destination.passwordGiven);
    if (c.password) {
      EXPECT_EQ(c.password, destination.password);
    }
    EXPECT_EQ(c.files, parsed.options.files);
  }
  ParsedCommandLine chosen = ParseCommandLine({L"--export", L"--choose", L"a.rpt"});
  ASSERT_TRUE(chosen.ok);
  EXPECT_TRUE(chosen.options.destination.choose);
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
  {
    // The narrow list follows the user's language only.
    ScopedUserLanguage english(L"0409");
    EXPECT_EQ(0u, RunKvhost({L"--ansi", L"--list-destinations"}).out.find(L"identifier: qfold\nname: Exchange Folder\n"));
    RunResult byLanguage = RunKvhost({L"--ansi", L"--list-destinations", L"--language", L"0407"});
    EXPECT_EQ(kExitUsage, byLanguage.exitCode);
    EXPECT_EQ(0u, byLanguage.err.find(L"kvhost: with --ansi the destination list follows the user's language"));
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

// Runs kvhost.exe (beside the test) with arguments; its output streams as
// bytes, and its exit code.
struct ProgramRun {
  DWORD exitCode = 99;
  std::string out;
  std::string err;
};

ProgramRun RunProgram(const std::wstring& arguments) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 1 << 16)) {
    ADD_FAILURE() << "no pipes";
    return run;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring commandLine = L"kvhost.exe " + arguments;
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  EXPECT_TRUE(started) << GetLastError();
  char chunk[4096];
  DWORD read = 0;
  while (started && ReadFile(outRead, chunk, sizeof chunk, &read, nullptr) && read > 0) run.out.append(chunk, read);
  while (started && ReadFile(errRead, chunk, sizeof chunk, &read, nullptr) && read > 0) run.err.append(chunk, read);
  CloseHandle(outRead);
  CloseHandle(errRead);
  if (started) {
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return run;
}

// The program itself, with its output in a pipe: UTF-8 bytes and exit code 0.
TEST(KvhostProgram, WritesUtf8IntoAPipe) {
  ProgramRun run = RunProgram(L"--list-destinations --language 0407");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_NE(std::string::npos, run.out.find("name: Exchange-Ordner\n")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("sodass \xC3\xBC" "ber einen")) << "u-umlaut as UTF-8";
}

// Exports through the real kvhost.exe, KV2FOLD.dll and MAPI32.DLL into the
// profile "Work", whose store holds Inbox#Reports and nothing else.
class KvhostExport : public kvtest::ProviderFolderTest {
 protected:
  void SetUp() override {
    ProviderFolderTest::SetUp();
    MakeFile(L"a.pdf", Text("%PDF-1.4 a small file"));
    MakeFile(L"b.txt", Text("notes\n"));
  }
  // Work's store made afresh.
  void NewStore() {
    kvtest::RemoveTree(StoreDirectory(L"Work"));
    MakeProfile(L"Work", L"secret", false);
  }
  static kvtest::Bytes Text(const std::string& text) { return kvtest::Bytes(text.begin(), text.end()); }
  std::wstring Path(const wchar_t* name) const { return folder_ + L"\\" + name; }
  std::string Narrow(const std::wstring& text) const { return ToUtf8(text); }
  // Subject and class of each message in Work's Inbox#Reports.
  std::vector<std::wstring> Subjects() {
    std::vector<std::wstring> subjects;
    for (const kvtest::StoredMessage& message : kvtest::StoredMessages(StoreDirectory(L"Work"), L"Inbox#Reports")) {
      subjects.push_back(message.subject() + L" " + message.Text(PR_MESSAGE_CLASS_W));
    }
    return subjects;
  }

  ScopedUserLanguage english_{L"0409"};
};

TEST_F(KvhostExport, PostsTheFilesAndSavesTheOptionsForTheNextRunThroughEitherInterface) {
  const std::wstring a = Path(L"a.pdf"), b = Path(L"b.txt"), options = Path(L"work.kvo");
  // The header, then "Work", "secret" and the folder path with terminators,
  // two bytes a character (a narrow block reserves as much).
  const std::string blockSize = std::to_string(sizeof(KVEDestinationOptions) + 2 * (5 + 7 + 22));
  struct Interface {
    std::wstring option;
    std::string exportCall;
  } interfaces[] = {{L"", "KVEExportToDestinationW"}, {L"--ansi ", "KVEExportToDestination"}};
  for (const Interface& i : interfaces) {
    SCOPED_TRACE(i.exportCall);
    NewStore();
    ProgramRun first = RunProgram(i.option + L"--export --profile Work --password secret --folder \"Mailbox#Inbox#Reports\" \"" +
                                  a + L"\" \"" + b + L"\" --save-options \"" + options + L"\"");
    EXPECT_EQ(0u, first.exitCode) << first.err;
    EXPECT_EQ("Destination: Mailbox#Inbox#Reports (profile Work, kind folder)\n"
              "Posting 2 file(s) in one call of " + i.exportCall + ":\n"
              "  [1/2] a.pdf  <- " + Narrow(a) + "\n"
              "  [2/2] b.txt  <- " + Narrow(b) + "\n"
              "Done: all 2 file(s) posted.\n"
              "Options saved to " + Narrow(options) + " (" + blockSize + " bytes); use them with --options-file.\n",
              first.out);
    EXPECT_EQ("", first.err);

    ProgramRun second = RunProgram(i.option + L"--export --options-file \"" + options + L"\" \"" + b + L"\" --timing");
    EXPECT_EQ(0u, second.exitCode) << second.err;
    EXPECT_EQ(0u, second.out.find("Destination: Mailbox#Inbox#Reports (profile Work, kind folder)\n")) << second.out;
    EXPECT_NE(std::string::npos, second.out.find("\nTiming: set-up ")) << second.out;
    EXPECT_EQ((std::vector<std::wstring>{L"a.pdf IPM.DOCUMENT.*PDF", L"b.txt IPM.DOCUMENT.*TXT",
                                         L"b.txt IPM.DOCUMENT.*TXT"}),
              Subjects());
  }
}

TEST_F(KvhostExport, ChooseAsksThroughTheDialogsAndTheSavedChoiceRunsWithoutThem) {
  // Work without a password, as the default profile: the setup logs on
  // without asking, and the saved block (which holds no password: what is
  // typed into MAPI's dialog never reaches the module) logs on again.
  MakeProfile(L"Work", L"", true);
  const std::wstring b = Path(L"b.txt"), options = Path(L"work.kvo");
  RunResult first;
  std::vector<std::string> problems;
  {
    kvtest::PersonAtTheScreen person([](kvtest::DialogDriver& driver) {
      driver.Choose(L"Select a folder", 1000, {L"Work", L"Mailbox", L"Inbox", L"Reports"});  // the folder tree
    });
    first = RunKvhost({L"--export", L"--choose", b, L"--save-options", options});
    problems = person.Finish();
  }
  EXPECT_EQ(std::vector<std::string>{}, problems);
  EXPECT_EQ(kExitSuccess, first.exitCode) << Narrow(first.err);
  EXPECT_EQ(0u, first.out.find(L"Destination: Mailbox#Inbox#Reports (profile Work, kind instance)\n")) << Narrow(first.out);
  // From the saved block: no dialog (one would be cancelled after 3 s and fail the export).
  RunResult second;
  {
    kvtest::PersonAtTheScreen nobody([](kvtest::DialogDriver&) {}, 3000);
    second = RunKvhost({L"--export", L"--options-file", options, b});
  }
  EXPECT_EQ(kExitSuccess, second.exitCode) << Narrow(second.err);
  EXPECT_EQ((std::vector<std::wstring>{L"b.txt IPM.DOCUMENT.*TXT", L"b.txt IPM.DOCUMENT.*TXT"}), Subjects());

  // A report file chosen as a folder report is named as a template; the
  // saved choice posts it as a document, and kvhost says so when saving.
  const std::wstring report = Path(L"q.rpt"), reportOptions = Path(L"report.kvo");
  MakeFile(L"q.rpt", Text("a report file"));
  {
    kvtest::PersonAtTheScreen person([](kvtest::DialogDriver& driver) {
      driver.Press(L"Export to Exchange Folder", {1010, IDOK});  // Folder Report
      driver.Choose(L"Select a folder", 1000, {L"Work", L"Mailbox", L"Inbox", L"Reports"});
      driver.Answer(L"Enter Report Name", 1012, L"Quarter");
    });
    first = RunKvhost({L"--export", L"--choose", report, L"--save-options", reportOptions});
    problems = person.Finish();
  }
  EXPECT_EQ(std::vector<std::string>{}, problems);
  EXPECT_EQ(kExitSuccess, first.exitCode) << Narrow(first.err);
  EXPECT_NE(std::wstring::npos, first.out.find(L"kvhost: note: these options name a folder report; exported again "
                                               L"from them (without dialogs), the files are posted as documents"))
      << Narrow(first.out);
  {
    kvtest::PersonAtTheScreen nobody([](kvtest::DialogDriver&) {}, 3000);
    second = RunKvhost({L"--export", L"--options-file", reportOptions, report});
  }
  EXPECT_EQ(kExitSuccess, second.exitCode) << Narrow(second.err);
  EXPECT_EQ(L"q.rpt IPM.DOCUMENT.*RPT", Subjects().back()) << "a document the second time";
}

TEST_F(KvhostExport, AFailureGivesTheCodeAndTheModulesMessage) {
  const std::wstring b = Path(L"b.txt"), missing = Path(L"missing.pdf");
  struct Case {
    std::wstring arguments;
    std::string err;
    std::vector<std::wstring> subjects;
    const wchar_t* faults;  // the provider's injected faults in kvhost's process
  } cases[] = {
      {L"--export --language 0407 --profile Work --password secret --folder Mailbox#Nowhere \"" + b + L"\"",
       "kvhost: the export failed: KVEExportToDestinationW returned -1 (failed)\n"
       "kvhost: the module says: MAPI-Objekt nicht gefunden.\n",
       {}},
      {L"--export --profile Work --password wrong --folder Mailbox#Inbox#Reports \"" + b + L"\"",
       "kvhost: the destination could not be set up: KVEInitExportDestinationW returned -1 (failed)\n"
       "kvhost: MAPI refuses to log on to profile \"Work\" with this password: check the profile's name and "
       "password (kvmapi-admin list)\n",
       {}},
      // The logon succeeds, reading the profile's name fails: no word of passwords.
      {L"--export --profile Work --password secret --folder Mailbox#Inbox#Reports \"" + b + L"\"",
       "kvhost: the destination could not be set up: KVEInitExportDestinationW returned -1 (failed)\n"
       "kvhost: MAPI logs on to profile \"Work\", so the module failed after the logon: reading the profile's name "
       "or its stores from MAPI\n",
       {}, L"IMAPISession::GetStatusTable#1=0x80040115"},
      {L"--export --profile Work --password secret --folder Mailbox#Inbox#Reports \"" + b + L"\"",
       "kvhost: the export failed: KVEExportToDestinationW returned 2 (out of memory)\n"
       "kvhost: the module says: The file \"b.txt\" was not posted: There was not enough memory. "
       "(0x8007000E)\n",
       {}, L"IMessage::SaveChanges#1=0x8007000E"},
      {L"--export --options-file \"" + b + L"\" \"" + b + L"\"",
       "kvhost: " + Narrow(b) + " does not hold an options block (save one with --save-options)\n", {}},
      {L"--ansi --export --profile Work --password secret --folder Mailbox#Inbox#Reports \"" + missing + L"\" \"" + b +
           L"\"",
       "kvhost: the export failed: KVEExportToDestination returned -1 (failed)\n"
       "kvhost: the module says: The file \"missing.pdf\" was not posted: MAPI_E_CALL_FAILED\n",
       {L"b.txt IPM.DOCUMENT.*TXT"}},
      // A name the thread's code page (1252) cannot hold never reaches the module.
      {L"--ansi --export --profile Work --password secret --folder Mailbox#Inbox#Reports \"" + b + L"\" \"" + Path(L"\u62A5.txt") + L"\"",
       "kvhost: \"" + Narrow(Path(L"\u62A5.txt")) + "\" cannot be written in the ANSI code page 1252, in which --ansi "
       "hands it to the module\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.arguments));
    NewStore();
    SetEnvironmentVariableW(L"KV_MAPI_DIAGNOSTICS", c.faults ? L"1" : nullptr);
    SetEnvironmentVariableW(L"KV_MAPI_FAULTS", c.faults);
    ProgramRun run = RunProgram(c.arguments);
    SetEnvironmentVariableW(L"KV_MAPI_FAULTS", nullptr);
    SetEnvironmentVariableW(L"KV_MAPI_DIAGNOSTICS", nullptr);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ(c.err, run.err);
    EXPECT_EQ(c.subjects, Subjects());
  }
}

}  // namespace
