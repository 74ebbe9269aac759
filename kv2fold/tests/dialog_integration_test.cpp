// The interactive setup and the report name dialog through the real
// KV2FOLD.dll and our MAPI32.DLL, with a person (a thread of the test's) at
// the screen: the folder tree and the paths it gives, the warning on the
// profile, every way of cancelling, branches read once and branches whose
// reading fails, the profile chooser, the kind dialog for report files and
// report templates named through a real export. Every case ends with the
// provider holding no object and no buffer.
#include <windows.h>

#include <mapitags.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "imap_test_support.h"
#include "interface/kve_api.h"
#include "kvtest/dialog_driver.h"
#include "kvtest/stored_messages.h"
#include "resources/resource_ids.h"
#include "tests/support/host_files.h"
#include "tests/support/module_fixture.h"

namespace {

using kvtest::DialogDriver;
using kvtest::PersonAtTheScreen;
using Names = std::vector<std::wstring>;
using Part = std::function<void(DialogDriver&)>;

using kvtest::StoredMessage;
std::string Narrow(const std::wstring& text) { return kvtest::InCodePage(text, CP_UTF8); }

const wchar_t kFolderCaption[] = L"Select a folder";
const wchar_t kKindCaption[] = L"Export to Exchange Folder";
const wchar_t kNameCaption[] = L"Enter Report Name";
const wchar_t kBoxCaption[] = L"KVEFold.DLL";

// In the folder dialog, the item at path chosen with OK.
bool PickFolder(DialogDriver& person, const Names& path) { return person.Choose(kFolderCaption, IDC_FOLDER_TREE, path); }

class DialogTest : public kvtest::ModuleThroughProviderTest {
 protected:
  void SetUp() override {
    ModuleThroughProviderTest::SetUp();
    // The default profile "Open": its Mailbox with Inbox (Reports, Q#1 and
    // siblings a cut or narrow name would confuse) and Team, and an Archive
    // of 60 folders, more than one batch of rows.
    Names folders = {L"Mailbox#Inbox#Reports", L"Mailbox#Team"};
    for (const std::wstring& name : Confusable()) folders.push_back(L"Mailbox#Inbox#" + name);
    for (int i = 0; i < 60; ++i) folders.push_back(L"Archive#f" + std::to_wstring(100 + i));
    MakeProfile(L"Open", L"", true, folders, {}, {L"Archive"});
    MakeFolderWithHash(L"Open");
  }

  // A name of 79 characters and a longer one that starts with it; two names
  // the ANSI code page cannot tell apart.
  static std::vector<std::wstring> Confusable() {
    const std::wstring x79(79, L'X');
    return {x79, x79 + L"-secret", L"Berichte \U0001F4CA \u00DC", L"Berichte \U0001F4C8 \u00DC"};
  }
  // The messages and templates of a folder of Open's Mailbox (empty path:
  // its Common Views folder).
  std::vector<StoredMessage> Stored(const std::wstring& path) {
    return kvtest::StoredMessages(StoreDirectory(L"Open"), path);
  }
  std::vector<StoredMessage> Templates(const std::wstring& path) {
    std::vector<StoredMessage> templates;
    for (const StoredMessage& message : Stored(path)) {
      if (message.associated) templates.push_back(message);
    }
    return templates;
  }

  struct Outcome {
    int code = -99;
    std::vector<std::string> problems;
    std::wstring folder;  // as the settled options give it
    int kind = 0;
  };

  // KVEInitExportDestinationW without options for files of these names,
  // while the person does part. The job stays in job_.
  Outcome Choose(const Names& names, DWORD language, const Part& part) {
    kvtest::HostFiles<wchar_t> files(names);
    KVEExportInfo info = files.Info(info_);
    info.language = language;
    Outcome outcome;
    PersonAtTheScreen person(part);
    job_ = nullptr;
    outcome.code = initExport(nullptr, 0, nullptr, &info, &job_, nullptr);
    outcome.problems = person.Finish();
    KVEDestinationOptions* settled = nullptr;
    if (job_ && decode(job_, &settled) == 0 && settled) {
      outcome.folder = settled->folderPath.pointer ? settled->folderPath.pointer : L"<none>";
      outcome.kind = settled->postingKind;
      freeOptions(0, settled);
    }
    return outcome;
  }
  // Ends the job and checks that nothing of MAPI's is left.
  void EndJob() {
    EXPECT_EQ(0, termExport(job_, 0));
    job_ = nullptr;
    ExpectNothingHeld();
  }
  // KVEExportToDestinationW of these files while the person does part.
  int Export(const Names& paths, const Part& part, std::vector<std::string>& problems) {
    const kvtest::HostFiles<wchar_t> files(paths);
    const KVEExportRequest request = files.Request();
    PersonAtTheScreen person(part);
    const int code = exportFiles(job_, &request);
    problems = person.Finish();
    return code;
  }
  KVEJobHandle job_ = nullptr;
};

// Waits for the folder dialog; its tree in *tree.
HWND FolderDialog(DialogDriver& person, HWND* tree, const wchar_t* caption = kFolderCaption) {
  HWND dialog = person.Await(caption);
  *tree = dialog ? GetDlgItem(dialog, IDC_FOLDER_TREE) : nullptr;
  return dialog;
}

TEST_F(DialogTest, TheFolderTreeGivesTheChosenPathOrCancels) {
  struct Case {
    std::string what;
    Names select;          // the item chosen in the tree, from the root
    int button;            // pressed at the end: IDOK or IDCANCEL; 0: Escape, -1: the close box
    int code;
    std::wstring folder;   // settled path
  };
  std::vector<Case> cases = {
      {"a store", {L"Open", L"Mailbox"}, IDOK, 0, L"Mailbox"},
      {"a folder two levels down", {L"Open", L"Mailbox", L"Inbox", L"Reports"}, IDOK, 0, L"Mailbox#Inbox#Reports"},
      {"Cancel", {L"Open", L"Archive"}, IDCANCEL, KVE_CANCELLED, L""},
      {"Escape", {L"Open", L"Mailbox", L"Inbox"}, 0, KVE_CANCELLED, L""},
      {"the close box", {L"Open"}, -1, KVE_CANCELLED, L""},
  };
  // The path names the folder whole (posting into such paths is an export test).
  for (const std::wstring& name : Confusable()) {
    cases.push_back({Narrow(name), {L"Open", L"Mailbox", L"Inbox", name}, IDOK, 0, L"Mailbox#Inbox#" + name});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring profileLabel, label;
    Names stores, mailbox;
    const Outcome outcome = Choose({L"sales.pdf"}, 0x0409, [&](DialogDriver& person) {
      HWND tree = nullptr;
      HWND dialog = FolderDialog(person, &tree);
      if (!dialog) return;
      profileLabel = person.Text(dialog, IDC_PROFILE_LABEL);
      HTREEITEM root = person.Item(tree, {L"Open"});
      stores = person.Children(tree, root);
      mailbox = person.Children(tree, person.Item(tree, {L"Open", L"Mailbox"}));
      HTREEITEM chosen = person.Item(tree, c.select);
      if (!chosen) return;
      person.Select(tree, chosen);
      label = person.Text(dialog, IDC_FOLDER_LABEL);
      if (c.button > 0) person.Click(dialog, c.button);
      if (c.button == 0) person.Key(tree, VK_ESCAPE);
      if (c.button < 0) PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      person.AwaitGone(dialog);
    });
    EXPECT_EQ(std::vector<std::string>{}, outcome.problems);
    EXPECT_EQ(c.code, outcome.code);
    EXPECT_EQ(L"Open", profileLabel);
    EXPECT_EQ((Names{L"Archive", L"Mailbox"}), stores) << "the profile's stores, sorted";
    EXPECT_EQ((Names{L"Inbox", L"Team"}), mailbox) << "the top of information store's folders";
    if (c.code == 0) {
      EXPECT_EQ(c.folder, label) << "the label shows the chosen path";
      EXPECT_EQ(c.folder, outcome.folder);
      EXPECT_EQ(ReportInstance, outcome.kind);
    } else {
      EXPECT_EQ(nullptr, job_);
    }
    EndJob();
  }
}

// The default profile's one store on the Dovecot of the imap_servers
// fixture (its password kept in the profile): the tree reads the server's
// folders, a person opens a branch with the arrow keys and picks a folder
// two levels down for two report templates, whose second name is refused
// while the first template, stored on the server, holds it.
TEST_F(DialogTest, TheFolderTreeBrowsesAStoreOnAServer) {
  if (kvimap_test::Servers().empty()) GTEST_SKIP() << "no servers (KV_IMAP_ENV): ctest runs this as kv2fold_server_dialog";
  provider::admin::ProfileRequest request;
  request.profile.name = L"Open";
  provider::StoreConfig store;
  store.name = L"Team";
  store.onServer = true;
  store.server.host = L"127.0.0.1";
  store.server.port = kvimap_test::Port("IMAP_TLS_PORT");
  store.server.user = L"alice";
  store.server.root = L"Team/";
  store.server.pin = kvimap_test::Setting("IMAP_PIN");
  request.profile.stores.push_back(store);
  request.serverPassword = kvimap_test::Wide(kvimap_test::Setting("IMAP_PASSWORD"));
  request.rememberServerPassword = true;
  // A branch of its own: other tests make folders in Team/ at the same time.
  const std::wstring branch = L"Dialog " + std::to_wstring(GetTickCount());
  request.folders = {L"Team#" + branch + L"#Monthly"};
  request.makeDefault = true;
  std::wstring error;
  ASSERT_TRUE(provider::admin::CreateProfile(ProfilesPath(), request, error)) << Narrow(error);
  Names top, below;
  bool opened = false;
  const Outcome outcome = Choose({L"q1.rpt", L"q2.rpt"}, 0x0409, [&](DialogDriver& person) {
    HWND tree = nullptr;
    if (!person.Press(kKindCaption, {IDC_KIND_FOLDER, IDOK}) || !FolderDialog(person, &tree)) return;
    top = person.Children(tree, person.Item(tree, {L"Open", L"Team"}));
    HTREEITEM item = person.Item(tree, {L"Open", L"Team", branch});
    opened = item && person.Toggle(tree, item, true);
    below = DialogDriver::Children(tree, item);
    PickFolder(person, {L"Open", L"Team", branch, L"Monthly"});
  });
  EXPECT_EQ(std::vector<std::string>{}, outcome.problems);
  for (const std::wstring& name : {std::wstring(L"Archive"), std::wstring(L"ReadOnly"), branch})
    EXPECT_NE(top.end(), std::find(top.begin(), top.end(), name)) << "the server's Team/ folders: " << Narrow(name);
  EXPECT_TRUE(opened);
  EXPECT_EQ((Names{L"Monthly"}), below);
  ASSERT_EQ(0, outcome.code);
  EXPECT_EQ(L"Team#" + branch + L"#Monthly", outcome.folder);
  EXPECT_EQ(FolderReport, outcome.kind);

  std::vector<std::wstring> seen;
  auto answer = [&](DialogDriver& person, const std::wstring& name) {
    HWND dialog = person.Await(kNameCaption);
    seen.push_back(DialogDriver::Text(dialog, IDC_REPORT_NAME_LABEL));
    person.Answer(kNameCaption, IDC_REPORT_NAME_EDIT, name);
    person.AwaitGone(dialog);
  };
  std::vector<std::string> problems;
  EXPECT_EQ(0, Export({MakeFile(L"q1.rpt", {1}), MakeFile(L"q2.rpt", {2})}, [&](DialogDriver& person) {
              answer(person, L"Sales");
              answer(person, L"sALES");  // taken: the server's associated table holds it
              seen.push_back(person.Acknowledge(kBoxCaption).substr(0, 41));
              answer(person, L"Budget");
            }, problems));
  EXPECT_EQ(std::vector<std::string>{}, problems);
  EXPECT_EQ((std::vector<std::wstring>{L"For q1.rpt:", L"For q2.rpt:",
                                       L"Report Display Name has already been used", L"For q2.rpt:"}),
            seen);
  EndJob();
  // On the server: both templates in the folder's hidden one, none among its messages.
  kvimap::ImapClient client;
  kvimap::ConnectOptions options;
  options.host = L"127.0.0.1";
  options.port = kvimap_test::Port("IMAP_PLAIN_PORT");
  options.security = kvimap::Security::None;
  ASSERT_TRUE(client.Connect(options).ok() && client.Login(L"bob", kvimap_test::Wide(kvimap_test::Setting(
                                                                         "IMAP_READER_PASSWORD"))).ok());
  kvimap::SelectedMailbox selected;
  ASSERT_TRUE(client.Select(L"Team/" + branch + L"/Monthly", true, &selected).ok());
  EXPECT_EQ(0u, selected.exists);
  ASSERT_TRUE(client.Select(L"Team/" + branch + L"/Monthly/KV2FOLD Associated", true, &selected).ok());
  std::vector<kvimap::MessageSummary> templates;
  ASSERT_TRUE(client.FetchSummaries(1, 0, &templates).ok());
  ASSERT_EQ(2u, templates.size());
  EXPECT_EQ(L"Sales", templates[0].displayName);
  EXPECT_EQ(L"Budget", templates[1].displayName);
  EXPECT_EQ("IPM.ZORLAN.REPORT.TEMPLATE", templates[0].messageClass);
  EXPECT_TRUE(client.Logout().ok());
}

TEST_F(DialogTest, OkOnTheProfileOrAFolderNoPathNamesWarnsAndKeepsTheDialogInEachLanguage) {
  struct Case {
    DWORD language;
    Names select;  // empty: the root, selected from the start
    const wchar_t *caption, *warningCaption, *warning;
  } cases[] = {
      {0x0409, {}, L"Select a folder", L"Warning", L"Profile \"Open\" cannot be reported."},
      {0x0407, {}, L"Ordner ausw\u00e4hlen", L"Warnung",
       L"Das Profil \u201EOpen\u201C kann nicht als Exportziel verwendet werden."},
      {0x0409, {L"Open", L"Mailbox", L"Inbox", L"Q#1"}, L"Select a folder", L"Warning",
       L"The folder \"Q#1\" cannot be chosen: its name, or the name of a folder above it, is empty or contains "
       L"\"#\", and a folder path cannot name it."},
      {0x0407, {L"Open", L"Mailbox", L"Inbox", L"Q#1"}, L"Ordner ausw\u00e4hlen", L"Warnung",
       L"Der Ordner \u201EQ#1\u201C kann nicht gew\u00e4hlt werden: Sein Name oder der Name eines "
       L"\u00fcbergeordneten Ordners ist leer oder enth\u00e4lt \u201E#\u201C, und ein Ordnerpfad kann ihn nicht "
       L"benennen."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    std::wstring warning;
    bool stayedOpen = false;
    const Outcome outcome = Choose({L"sales.pdf"}, c.language, [&](DialogDriver& person) {
      HWND tree = nullptr;
      HWND dialog = FolderDialog(person, &tree, c.caption);
      if (!dialog) return;
      if (!c.select.empty()) {
        HTREEITEM chosen = person.Item(tree, c.select);
        if (!chosen) return;
        person.Select(tree, chosen);
      }
      person.Click(dialog, IDOK);
      warning = person.Acknowledge(c.warningCaption);
      stayedOpen = IsWindowVisible(dialog) != FALSE;
      person.Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(std::vector<std::string>{}, outcome.problems);
    EXPECT_EQ(c.warning, warning);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(KVE_CANCELLED, outcome.code);
    EndJob();
  }
}

TEST_F(DialogTest, ABranchIsReadOnceAndAFailingOneShowsFewerChildren) {
  struct Case {
    const char* what;
    const char* method;  // made to fail while Archive opens
    ULONG nth;
    size_t children;
    int expandButton;    // after opening
  } cases[] = {
      {"read twice", nullptr, 0, 60, 1},
      {"second batch of rows refused", "IMAPITable::QueryRows", 2, 50, 1},
      {"columns refused", "IMAPITable::SetColumns", 1, 0, 0},
      {"no hierarchy table", "IMAPIFolder::GetHierarchyTable", 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Names children, again;
    int expandButton = -1;
    size_t tablesBefore = 0, tablesAfter = 0;
    const Outcome outcome = Choose({L"sales.pdf"}, 0x0409, [&](DialogDriver& person) {
      HWND tree = nullptr;
      HWND dialog = FolderDialog(person, &tree);
      HTREEITEM archive = dialog ? person.Item(tree, {L"Open", L"Archive"}) : nullptr;
      if (!archive) return;
      tablesBefore = TraceLines("GetHierarchyTable").size();
      if (c.method) injectFault_(c.method, c.nth, MAPI_E_CALL_FAILED);
      children = DialogDriver::Children(tree, archive);
      expandButton = DialogDriver::ChildrenFlag(tree, archive);
      if (!c.method && person.Toggle(tree, archive, false) && person.Toggle(tree, archive, true)) {
        again = DialogDriver::Children(tree, archive);
      }
      tablesAfter = TraceLines("GetHierarchyTable").size();
      person.Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(std::vector<std::string>{}, outcome.problems);
    EXPECT_EQ(c.children, children.size());
    if (!children.empty()) {
      EXPECT_EQ(L"f100", children.front());
    }
    EXPECT_EQ(c.expandButton, expandButton);
    EXPECT_EQ(1u, tablesAfter - tablesBefore) << "one hierarchy table asked for";
    if (!c.method) {
      EXPECT_EQ(children, again) << "closed and opened again: the same items, no second reading";
    }
    EXPECT_EQ(KVE_CANCELLED, outcome.code);
    EndJob();
  }
}

TEST_F(DialogTest, WithoutADefaultProfileTheProvidersChooserComesFirst) {
  // The default profile now wants a password: the logon without one asks.
  MakeProfile(L"Open", L"unknown", false);
  std::wstring profileLabel;
  const Outcome outcome = Choose({L"sales.pdf"}, 0x0409, [&](DialogDriver& person) {
    HWND chooser = person.Await(L"Choose Profile");
    if (!chooser) return;
    SendDlgItemMessageW(chooser, 1001, LB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"Work"));
    DialogDriver::Type(chooser, 1002, L"secret");
    DialogDriver::Click(chooser, IDOK);
    profileLabel = DialogDriver::Text(person.Await(kFolderCaption), IDC_PROFILE_LABEL);
    PickFolder(person, {L"Work", L"Mailbox", L"Inbox", L"Reports"});
  });
  EXPECT_EQ(std::vector<std::string>{}, outcome.problems);
  EXPECT_EQ(0, outcome.code);
  EXPECT_EQ(L"Work", profileLabel);
  EXPECT_EQ(L"Mailbox#Inbox#Reports", outcome.folder);
  EXPECT_EQ((std::vector<std::string>{"MAPI::MAPILogonEx flags=0x80008023 -> 0x00000000"}),
            TraceLines("MAPILogonEx"));
  EndJob();
}

TEST_F(DialogTest, AStoreThatDoesNotOpenStaysInTheTreeWithoutChildren) {
  // How many stores the session opens before the dialog's own: counted on a
  // first dialog, then the first store the dialog opens is made to fail.
  auto sessionOpenings = [&] { return TraceLines("IMAPISession::OpenEntry").size(); };
  ClearTrace();
  Choose({L"sales.pdf"}, 0x0409, [&](DialogDriver& person) {
    HWND tree = nullptr;
    if (HWND dialog = FolderDialog(person, &tree)) person.Click(dialog, IDCANCEL);
  });
  EndJob();
  const size_t beforeTheDialog = sessionOpenings() - 2;
  ClearTrace();
  ASSERT_EQ(S_OK, injectFault_("IMAPISession::OpenEntry", static_cast<ULONG>(beforeTheDialog + 1), MAPI_E_NO_ACCESS));
  std::vector<Names> children;
  std::vector<int> buttons;
  const Outcome outcome = Choose({L"sales.pdf"}, 0x0409, [&](DialogDriver& person) {
    HWND tree = nullptr;
    HWND dialog = FolderDialog(person, &tree);
    if (!dialog) return;
    for (const wchar_t* store : {L"Archive", L"Mailbox"}) {
      HTREEITEM item = person.Item(tree, {L"Open", store});
      children.push_back(DialogDriver::Children(tree, item));
      buttons.push_back(DialogDriver::ChildrenFlag(tree, item));
    }
    person.Select(tree, person.Item(tree, {L"Open", children[0].empty() ? L"Mailbox" : L"Archive"}));
    DialogDriver::Click(dialog, IDOK);
  });
  EXPECT_EQ(std::vector<std::string>{}, outcome.problems);
  ASSERT_EQ(2u, children.size());
  EXPECT_TRUE(children[0].empty() != children[1].empty()) << "one store opened, the other did not";
  EXPECT_EQ(children[0].empty() ? 0 : 1, buttons[0]);
  EXPECT_EQ(children[1].empty() ? 0 : 1, buttons[1]);
  EXPECT_EQ(0, outcome.code) << "the store that opened can still be chosen";
  EXPECT_EQ(children[0].empty() ? L"Mailbox" : L"Archive", outcome.folder);
  EndJob();
}

TEST_F(DialogTest, AReportFileAsksForTheKindThenReportsAreNamedPerFile) {
  // The kind dialog: cancelled, a personal report (no folder dialog), or
  // its preselected kind taken with Enter (a report instance: documents).
  for (int button : {IDCANCEL, IDC_KIND_PERSONAL, 0}) {
    const Outcome outcome = Choose({L"q1.RPT"}, 0x0409, [&](DialogDriver& person) {
      HWND kinds = person.Await(kKindCaption);
      if (!kinds) return;
      if (IsDlgButtonChecked(kinds, IDC_KIND_INSTANCE) != BST_CHECKED) person.problems.push_back("not preselected");
      if (button == 0) {
        DialogDriver::Key(GetDlgItem(kinds, IDC_KIND_INSTANCE), VK_RETURN);
        PickFolder(person, {L"Open", L"Mailbox", L"Inbox", L"Reports"});
        return;
      }
      if (button != IDCANCEL) DialogDriver::Click(kinds, button);
      DialogDriver::Click(kinds, button == IDCANCEL ? IDCANCEL : IDOK);
    });
    EXPECT_EQ(std::vector<std::string>{}, outcome.problems);
    EXPECT_EQ(button == IDCANCEL ? KVE_CANCELLED : 0, outcome.code);
    if (button == 0) {
      EXPECT_EQ(ReportInstance, outcome.kind);
      EXPECT_EQ(L"Mailbox#Inbox#Reports", outcome.folder);
      std::vector<std::string> problems;
      EXPECT_EQ(0, Export({MakeFile(L"i.rpt", {1})}, [](DialogDriver&) {}, problems)) << "no name asked for";
      ASSERT_EQ(1u, Stored(L"Inbox#Reports").size());
      EXPECT_FALSE(Stored(L"Inbox#Reports")[0].associated) << "a document, not a template";
    } else if (outcome.code == 0) {
      EXPECT_EQ(PersonalReport, outcome.kind);
      std::vector<std::string> problems;
      EXPECT_EQ(0, Export({MakeFile(L"p.rpt", {1})}, [](DialogDriver& person) {
                  person.Answer(kNameCaption, IDC_REPORT_NAME_EDIT, L"Mine");
                }, problems));
      EXPECT_EQ(std::vector<std::string>{}, problems);
      const std::vector<StoredMessage> personal = Templates(L"");
      ASSERT_EQ(1u, personal.size()) << "in Common Views";
      EXPECT_EQ(L"Mine", personal[0].Text(PR_DISPLAY_NAME_W));
    }
    EndJob();
  }

  // A folder report into Inbox#Reports: three files, the first with a
  // comment (0x1019) and a body (0x101A) record.
  const Outcome outcome = Choose({L"q1.rpt", L"q2.rpt", L"q3.rpt"}, 0x0409, [](DialogDriver& person) {
    if (person.Press(kKindCaption, {IDC_KIND_FOLDER, IDOK})) PickFolder(person, {L"Open", L"Mailbox", L"Inbox", L"Reports"});
  });
  ASSERT_EQ(0, outcome.code);
  EXPECT_EQ(FolderReport, outcome.kind);
  const Names paths = {
      MakeFile(L"q1.rpt", {0x19, 0x10, 6, 0, 'N', 0, 'o', 0, 0, 0, 0x1A, 0x10, 4, 0, 'B', 0, 0, 0}),
      MakeFile(L"q2.rpt", {1}), MakeFile(L"q3.rpt", {2})};
  // What the person sees, in order: label and message texts.
  std::vector<std::wstring> seen;
  // Types a name and presses a button; a refused name keeps the dialog up.
  auto answer = [&](DialogDriver& person, const std::wstring& name, int button, bool refused = false) {
    HWND dialog = person.Await(kNameCaption);
    seen.push_back(DialogDriver::Text(dialog, IDC_REPORT_NAME_LABEL) + L" [" +
                   DialogDriver::Text(dialog, IDC_REPORT_NAME_EDIT) + L"]");
    person.Answer(kNameCaption, IDC_REPORT_NAME_EDIT, name, button);
    if (!refused) person.AwaitGone(dialog);
  };
  auto message = [&](DialogDriver& person) { seen.push_back(person.Acknowledge(kBoxCaption)); };
  std::vector<std::string> problems;
  const int code = Export(paths, [&](DialogDriver& person) {
    answer(person, L"   ", IDOK, true);  // only spaces: refused, the dialog stays
    message(person);
    answer(person, L"Sales  ", IDOK);
    answer(person, L"sALES", IDOK);  // taken, whatever the case
    message(person);
    answer(person, L"", IDCANCEL);  // q2 skipped
    answer(person, L"", IDABORT);   // the export ends at q3
  }, problems);
  EXPECT_EQ(std::vector<std::string>{}, problems);
  EXPECT_EQ(KVE_CANCELLED, code) << "Abort";
  EXPECT_EQ((std::vector<std::wstring>{
                L"For q1.rpt: []", L"Report Name cannot be empty.", L"For q1.rpt: [   ]", L"For q2.rpt: []",
                L"Report Display Name has already been used by other reports.\nPlease enter a unique report "
                L"display name.",
                L"For q2.rpt: []", L"For q3.rpt: []"}),
            seen);
  // Exported again, q3 alone: named this time, with leading spaces and
  // longer than a name may be.
  const std::wstring budget = L"  Budget" + std::wstring(292, L'B');
  EXPECT_EQ(0, Export({paths[2]}, [&](DialogDriver& person) { answer(person, budget, IDOK); }, problems));
  const std::vector<StoredMessage> stored = Templates(L"Inbox#Reports");
  ASSERT_EQ(2u, stored.size());
  EXPECT_EQ(L"Sales", stored[0].Text(PR_DISPLAY_NAME_W)) << "trailing spaces dropped";
  EXPECT_EQ(L"IPM.ZORLAN.REPORT.TEMPLATE", stored[0].Text(PR_MESSAGE_CLASS_W));
  EXPECT_EQ(L"No", stored[0].Text(PR_COMMENT_W));
  EXPECT_EQ(L"B", stored[0].Text(PR_BODY_W));
  EXPECT_EQ(budget.substr(0, 254), stored[1].Text(PR_DISPLAY_NAME_W)) << "leading spaces kept, cut to 254 characters";
  EXPECT_EQ(L"<none>", stored[1].Text(PR_COMMENT_W));
  EndJob();
}

}  // namespace
