// Logon: profiles by name and password, the default profile, the profile
// chooser, damaged profiles files, and what a session shows: its stores, its
// status table and its user.
#include "provider_fixture.h"

#include <algorithm>
#include <functional>
#include <thread>

#include "files.h"

namespace provider_test {
namespace {

class LogonTest : public ProviderTest {
 protected:
  void SetUp() override {
    ProviderTest::SetUp();
    MakeProfile(L"Work", L"secret", {{L"Mailbox", L"work-mailbox"}, {L"Archive", L"work-archive"}}, {}, false, L"Mailbox");
    MakeProfile(L"Second", L"two", {{L"Team", L"second-team"}});
    MakeProfile(L"Open", L"", {{L"Public", L"open-public"}});
  }

  // The profile a session belongs to, as the status table names it.
  std::string ProfileNameOf(IMAPISession* session) {
    Table table;
    EXPECT_EQ(S_OK, session->GetStatusTable(0, table.put()));
    if (!table) return "";
    for (const auto& row : ReadAll(table.get(), {PR_RESOURCE_TYPE, PR_DISPLAY_NAME_A}))
      if (row[0] == std::to_string(MAPI_SUBSYSTEM)) return row[1];
    return "";
  }
};

TEST_F(LogonTest, ProfilesByNameAndPassword) {
  struct Case {
    const wchar_t* profile;
    const wchar_t* password;
    HRESULT expected;
    const char* profileInSession;
  } cases[] = {
      {L"Work", L"secret", S_OK, "Work"},
      {L"work", L"secret", S_OK, "Work"},  // profile names ignore case, as MAPI's do
      {L"Work", L"Secret", MAPI_E_LOGON_FAILED, nullptr},
      {L"Work", L"", MAPI_E_LOGON_FAILED, nullptr},
      {L"Work", nullptr, MAPI_E_LOGON_FAILED, nullptr},
      {L"Nobody", L"secret", MAPI_E_LOGON_FAILED, nullptr},
      {L"Open", nullptr, S_OK, "Open"},
      {L"Open", L"anything", S_OK, "Open"},  // a profile without a password takes any
      {nullptr, nullptr, MAPI_E_LOGON_FAILED, nullptr},  // no default profile, no dialog allowed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile ? provider::ToUtf8(c.profile) : "(no profile)");
    Session session;
    EXPECT_EQ(c.expected, Logon(c.profile, c.password, 0, session));
    EXPECT_EQ(c.expected == S_OK, static_cast<bool>(session));
    if (session) {
      EXPECT_EQ(c.profileInSession, ProfileNameOf(session.get()));
    }
  }
}

TEST_F(LogonTest, NarrowProfileNameAndPassword) {
  LPMAPISESSION raw = nullptr;
  char profile[] = "Second";
  char password[] = "two";
  ASSERT_EQ(S_OK, MAPILogonEx(0, profile, password, MAPI_EXTENDED | MAPI_NEW_SESSION, &raw));
  Session session(raw);
  EXPECT_EQ("Second", ProfileNameOf(session.get()));
  char wrong[] = "TWO";
  EXPECT_EQ(MAPI_E_LOGON_FAILED, MAPILogonEx(0, profile, wrong, MAPI_EXTENDED, &raw));
  EXPECT_EQ(nullptr, raw);
}

TEST_F(LogonTest, NoProfileNameTakesTheDefaultProfile) {
  MakeProfile(L"Second", L"", {{L"Team", L"second-team"}}, {}, true);
  Session session;
  ASSERT_EQ(S_OK, Logon(nullptr, nullptr, 0, session));
  EXPECT_EQ("Second", ProfileNameOf(session.get()));
  Session withUi;
  ASSERT_EQ(S_OK, Logon(L"", nullptr, MAPI_LOGON_UI, withUi)) << "the default profile needs no dialog";
  EXPECT_EQ("Second", ProfileNameOf(withUi.get()));
}

TEST_F(LogonTest, LogonNeedsMapiInitialize) {
  MAPIUninitialize();
  Session session;
  EXPECT_EQ(MAPI_E_NOT_INITIALIZED, Logon(L"Work", L"secret", 0, session));
  EXPECT_EQ(S_OK, MAPIInitialize(nullptr));  // TearDown uninitializes once
}

TEST_F(LogonTest, DamagedProfilesFileIsCorruptData) {
  static const char withNul[] = "[Profile]\nName=A\0B\n";
  const std::vector<std::string> texts = {
      "[Profile]\nName=A\nthis line has no equals sign\n",
      "[Profile\nName=A\n",
      "[Store]\nName=S\nDirectory=s\n",  // a store before any profile
      "[Profile]\nName=A\nColour=blue\n",
      "[Profile]\nName=A\n[Profile]\nName=a\n",  // same name twice
      "[Profile]\nName=A\nDefaultStore=Missing\n",
      "[General]\nDefaultProfile=Missing\n[Profile]\nName=A\n",
      "[Profile]\nName=A\n[Store]\nName=S\n",  // store without directory
      "[Profile]\nName=\xC3\x28\n",  // not UTF-8
      "[Profile]\nName=A\n[Store]\nName=S\nDirectory=s\nReadOnly=maybe\n",
      std::string(withNul, sizeof withNul - 1),
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    WriteProfilesText(text);
    Session session;
    EXPECT_EQ(MAPI_E_CORRUPT_DATA, Logon(L"A", nullptr, 0, session));
    EXPECT_FALSE(session);
    EXPECT_EQ(MAPI_E_CORRUPT_DATA, Logon(nullptr, nullptr, MAPI_LOGON_UI, session)) << "no dialog over a damaged file";
  }
}

// Values with line breaks, quotes, backslashes and spaces at their ends come
// back from the profiles file exactly, and the file keeps one line per value.
TEST_F(LogonTest, AnyValueSurvivesTheProfilesFile) {
  const std::wstring values[] = {L"two\nlines", L"carriage\r\nreturn\r", L" spaced ", L"\"quoted\"",
                                 L"C:\\new\\dir\\", L" \\n stays \\"};
  provider::ProfilesFile file;
  ASSERT_EQ(provider::ProfilesStatus::Ok, provider::LoadProfiles(profilesPath_, file, nullptr));
  const std::string before = provider::SerializeProfiles(file);
  const size_t linesBefore = static_cast<size_t>(std::count(before.begin(), before.end(), '\n'));
  provider::ProfileConfig& work = file.profiles[0];
  for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
    provider::StoreConfig store = work.stores[0];
    store.name = L"Store " + std::to_wstring(i);
    store.readOnlyFolders = {values[i]};
    work.stores.push_back(store);
  }
  work.password = values[0];
  work.userName = values[1];
  ASSERT_TRUE(provider::SaveProfiles(profilesPath_, file));
  std::string text;
  ASSERT_EQ(provider::FileRead::Ok, provider::ReadWholeFile(profilesPath_, text));
  // Five lines for each store added: a blank one, [Store], Name, Directory, ReadOnlyFolder.
  EXPECT_EQ(linesBefore + 5 * (sizeof values / sizeof values[0]), static_cast<size_t>(std::count(text.begin(), text.end(), '\n')))
      << "every value stays on its line:\n" << text;
  provider::ProfilesFile read;
  std::wstring problem;
  ASSERT_EQ(provider::ProfilesStatus::Ok, provider::LoadProfiles(profilesPath_, read, &problem)) << provider::ToUtf8(problem);
  ASSERT_EQ(work.stores.size(), read.profiles[0].stores.size());
  for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i)
    EXPECT_EQ(provider::ToUtf8(values[i]), provider::ToUtf8(read.profiles[0].stores[i + 2].readOnlyFolders[0]));
  EXPECT_EQ(provider::ToUtf8(values[1]), provider::ToUtf8(read.profiles[0].userName));
  Session session;
  EXPECT_EQ(S_OK, Logon(L"Work", values[0].c_str(), 0, session)) << "the password with its line break";
  // A path in quotes from a file written before escapes existed keeps its backslashes.
  ASSERT_EQ(provider::ProfilesStatus::Ok,
            provider::ParseProfiles("[Profile]\nName=A\n[Store]\nName=S\nDirectory=\" C:\\stores\\x \"\n", read, &problem));
  EXPECT_EQ(" C:\\stores\\x ", provider::ToUtf8(read.profiles[0].stores[0].directory));
}

TEST_F(LogonTest, MissingProfilesFileFailsTheLogon) {
  DeleteFileW(profilesPath_.c_str());
  Session session;
  EXPECT_EQ(MAPI_E_LOGON_FAILED, Logon(L"Work", L"secret", 0, session));
  EXPECT_EQ(MAPI_E_LOGON_FAILED, Logon(nullptr, nullptr, MAPI_LOGON_UI, session)) << "nothing to choose from";
}

TEST_F(LogonTest, StoresTableMarksTheDefaultStore) {
  Session session = LogonOrFail(L"Work", L"secret");
  ASSERT_TRUE(session);
  Table table;
  ASSERT_EQ(S_OK, session->GetMsgStoresTable(0, table.put()));
  ULONG count = 0;
  EXPECT_EQ(S_OK, table->GetRowCount(0, &count));
  EXPECT_EQ(2u, count);
  auto rows = ReadAll(table.get(), {PR_DISPLAY_NAME_A, PR_DEFAULT_STORE, PR_RESOURCE_FLAGS, PR_ENTRYID, PR_DISPLAY_NAME_W});
  std::vector<std::vector<std::string>> expected = {
      {"Mailbox", "true", std::to_string(STATUS_DEFAULT_STORE), "binary 72", "Mailbox"},
      {"Archive", "false", "0", "binary 72", "Archive"},
  };
  EXPECT_EQ(expected, rows);
}

TEST_F(LogonTest, StatusTableNamesTheProfileAndEachStoreProvider) {
  Session session = LogonOrFail(L"Work", L"secret");
  ASSERT_TRUE(session);
  Table table;
  ASSERT_EQ(S_OK, session->GetStatusTable(0, table.put()));
  auto rows = ReadAll(table.get(), {PR_RESOURCE_TYPE, PR_DISPLAY_NAME_A});
  std::vector<std::vector<std::string>> expected = {
      {std::to_string(MAPI_SUBSYSTEM), "Work"},
      {std::to_string(MAPI_STORE_PROVIDER), "Mailbox"},
      {std::to_string(MAPI_STORE_PROVIDER), "Archive"},
  };
  EXPECT_EQ(expected, rows);
}

TEST_F(LogonTest, IdentityIsAMailUserWithStableKeys) {
  std::vector<BYTE> firstEntryId, firstSearchKey;
  for (int round = 0; round < 2; ++round) {
    Session session = LogonOrFail(L"Work", L"secret");
    ASSERT_TRUE(session);
    ULONG size = 0xdeadbeef;
    LPENTRYID rawId = nullptr;
    ASSERT_EQ(S_OK, session->QueryIdentity(&size, &rawId));
    Buffer<ENTRYID> id(rawId);
    UniqueInterface<IMailUser> user;
    ULONG type = 0;
    ASSERT_EQ(S_OK, session->OpenEntry(size, id.get(), nullptr, MAPI_BEST_ACCESS, &type, user.putUnknown()));
    EXPECT_EQ(static_cast<ULONG>(MAPI_MAILUSER), type);
    SizedSPropTagArray(2, tags) = {2, {PR_DISPLAY_NAME_A, PR_SEARCH_KEY}};
    ULONG count = 0;
    LPSPropValue rawValues = nullptr;
    ASSERT_EQ(S_OK, user->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &rawValues));
    Buffer<SPropValue> values(rawValues);
    ASSERT_EQ(2u, count);
    EXPECT_STREQ("Work User", values.get()[0].Value.lpszA);
    ASSERT_EQ(PR_SEARCH_KEY, values.get()[1].ulPropTag);
    std::vector<BYTE> searchKey(values.get()[1].Value.bin.lpb, values.get()[1].Value.bin.lpb + values.get()[1].Value.bin.cb);
    std::vector<BYTE> entryId(reinterpret_cast<BYTE*>(id.get()), reinterpret_cast<BYTE*>(id.get()) + size);
    EXPECT_FALSE(searchKey.empty());
    if (round == 0) {
      firstEntryId = entryId;
      firstSearchKey = searchKey;
    } else {
      EXPECT_EQ(firstEntryId, entryId) << "the user's entry identifier changed between sessions";
      EXPECT_EQ(firstSearchKey, searchKey);
    }
  }
}

TEST_F(LogonTest, LoggedOffSessionRefusesWorkButKeepsOpenStoresUsable) {
  Session session = LogonOrFail(L"Work", L"secret");
  ASSERT_TRUE(session);
  Store store = OpenStore(session.get(), L"Mailbox");
  ASSERT_TRUE(store);
  EXPECT_EQ(S_OK, session->Logoff(0, 0, 0));
  Table table;
  EXPECT_EQ(MAPI_E_END_OF_SESSION, session->GetMsgStoresTable(0, table.put()));
  EXPECT_FALSE(table);
  Folder top = OpenTop(store.get());
  EXPECT_TRUE(top);
}

// ---- the profile chooser, driven from a second thread like a user ----

struct ChooserObservation {
  bool found = false;
  HWND owner = nullptr;
  std::vector<std::wstring> profiles;
  std::wstring messageAfterWrongPassword;
};

BOOL CALLBACK TakeDialog(HWND window, LPARAM param) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (wcscmp(name, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

HWND FindDialogOf(DWORD threadId) {
  HWND found = nullptr;
  for (int attempt = 0; attempt < 500 && !found; ++attempt) {
    EnumThreadWindows(threadId, TakeDialog, reinterpret_cast<LPARAM>(&found));
    if (!found) Sleep(20);
  }
  return found;
}

void Choose(HWND dialog, int index, const wchar_t* password) {
  SendDlgItemMessageW(dialog, 1001, LB_SETCURSEL, index, 0);
  SetDlgItemTextW(dialog, 1002, password);
  SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
}

class ChooserTest : public LogonTest {
 protected:
  // Runs a logon with MAPI_LOGON_UI while a helper thread plays the user.
  HRESULT LogonWithUser(const wchar_t* profile, std::function<void(HWND, ChooserObservation&)> user,
                        ChooserObservation& seen, Session& session) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    DWORD threadId = GetCurrentThreadId();
    std::thread helper([&] {
      HWND dialog = FindDialogOf(threadId);
      if (!dialog) return;
      seen.found = true;
      seen.owner = GetWindow(dialog, GW_OWNER);
      HWND list = GetDlgItem(dialog, 1001);
      LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        seen.profiles.push_back(text);
      }
      user(dialog, seen);
    });
    LPMAPISESSION raw = nullptr;
    HRESULT hr = MAPILogonEx(reinterpret_cast<ULONG_PTR>(owner), reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(profile)),
                             nullptr, MAPI_UNICODE | MAPI_EXTENDED | MAPI_LOGON_UI | MAPI_NEW_SESSION, &raw);
    session.reset(raw);
    helper.join();
    DestroyWindow(owner);
    EXPECT_TRUE(seen.found) << "no chooser dialog appeared";
    EXPECT_EQ(owner, seen.owner) << "the chooser must be owned by the caller's window";
    return hr;
  }
};

TEST_F(ChooserTest, CancelIsUserCancel) {
  ChooserObservation seen;
  Session session;
  HRESULT hr = LogonWithUser(
      nullptr, [](HWND dialog, ChooserObservation&) { SendMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); }, seen,
      session);
  EXPECT_EQ(MAPI_E_USER_CANCEL, hr);
  EXPECT_FALSE(session);
  EXPECT_EQ((std::vector<std::wstring>{L"Work", L"Second", L"Open"}), seen.profiles);
}

TEST_F(ChooserTest, WrongPasswordKeepsTheDialogOpen) {
  ChooserObservation seen;
  Session session;
  HRESULT hr = LogonWithUser(
      L"Work",  // a named profile without its password: the chooser asks, with that profile selected
      [](HWND dialog, ChooserObservation& observed) {
        EXPECT_EQ(0, SendDlgItemMessageW(dialog, 1001, LB_GETCURSEL, 0, 0));
        Choose(dialog, 0, L"wrong");
        wchar_t message[200] = {};
        GetDlgItemTextW(dialog, 1003, message, 200);
        observed.messageAfterWrongPassword = message;
        Choose(dialog, 0, L"secret");
      },
      seen, session);
  ASSERT_EQ(S_OK, hr);
  EXPECT_FALSE(seen.messageAfterWrongPassword.empty()) << "the dialog should say the password is wrong";
  EXPECT_EQ("Work", ProfileNameOf(session.get()));
}

}  // namespace
}  // namespace provider_test
