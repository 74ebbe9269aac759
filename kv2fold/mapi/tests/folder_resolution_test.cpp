// Folder resolution over fake stores and folders: which folder a path gives,
// with which opening flags, the results of paths that name nothing, the
// Common Views folder of the default store, and that each path releases what
// it opened.
#include <windows.h>

#include <mapitags.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mapi/folder_resolution.h"
#include "tests/fakes/fake_mapi_fixture.h"

namespace {

using kvfake::FakeFolderContents;
using kvfake::FakeProp;
using kvfake::FakeRow;
using kvfake::FakeSessionConfig;
using Bytes = std::vector<BYTE>;
using Calls = std::vector<std::string>;

const Bytes kStoreId = {'S', 1}, kArchiveId = {'S', 2}, kTopId = {'T'}, kInboxId = {'I'}, kReportsId = {'R'},
            kLongId = {'L'}, kCommonViewsId = {'C'};
const std::string kLongName(79, 'x');  // the first 79 characters of a longer component

FakeRow ChildRow(const std::string& name, const Bytes& id) {
  return {FakeProp::Text(PR_DISPLAY_NAME_A, name), FakeProp::Binary(PR_ENTRYID, id)};
}

class FolderResolutionTest : public kvfake::FakeMapiTest {
 protected:
  void SetUp() override {
    FakeMapiTest::SetUp();
    config_ = fake.session;
    config_->storeRows = {
        {FakeProp::Text(PR_DISPLAY_NAME_A, "Archive"), FakeProp::Binary(PR_ENTRYID, kArchiveId),
         FakeProp::Bool(PR_DEFAULT_STORE, false)},
        {FakeProp::Text(PR_DISPLAY_NAME_A, "Team Mailbox"), FakeProp::Binary(PR_ENTRYID, kStoreId),
         FakeProp::Bool(PR_DEFAULT_STORE, true)},
    };
    SetStoreProps({FakeProp::Binary(PR_IPM_SUBTREE_ENTRYID, kTopId),
                   FakeProp::Long(PR_VALID_FOLDER_MASK, FOLDER_IPM_SUBTREE_VALID | FOLDER_COMMON_VIEWS_VALID),
                   FakeProp::Binary(PR_COMMON_VIEWS_ENTRYID, kCommonViewsId)});
    AddFolder(kTopId, "Top of Information Store", {ChildRow("Inbox", kInboxId), ChildRow(kLongName, kLongId)});
    AddFolder(kInboxId, "Inbox", {FakeRow{FakeProp::Error(PR_DISPLAY_NAME_A), FakeProp::Binary(PR_ENTRYID, {'?'})},
                                  ChildRow("Reports", kReportsId)});
    AddFolder(kReportsId, "Reports", {});
    AddFolder(kLongId, "Long", {});
    AddFolder(kCommonViewsId, "Common Views", {});
    session_.reset(kvfake::NewFakeSession(config_));
  }
  void TearDown() override {
    session_.reset();
    config_->entries.clear();
    FakeMapiTest::TearDown();
  }
  void SetStoreProps(FakeRow props) {
    std::weak_ptr<FakeSessionConfig> config = config_;
    config_->entries[kStoreId] = [config, props] { return kvfake::NewFakeStore(props, config.lock()); };
  }
  void AddFolder(const Bytes& id, const std::string& name, std::vector<FakeRow> children) {
    std::weak_ptr<FakeSessionConfig> config = config_;
    FakeFolderContents contents;
    contents.subfolders = std::move(children);
    config_->entries[id] = [config, name, contents] {
      return kvfake::NewFakeFolder({FakeProp::Text(PR_DISPLAY_NAME_A, name)}, contents, config.lock());
    };
  }
  // The opened folder's display name, or "<none>".
  std::string NameOf(IMAPIFolder* folder) {
    if (!folder) return "<none>";
    MAPIBuffer<SPropValue> value;
    if (FAILED(g_MAPIFunctions.HrGetOneProp(folder, PR_DISPLAY_NAME_A, value.put()))) return "<unnamed>";
    return value->Value.lpszA;
  }
  // The store and folder openings, with their flags.
  Calls Openings() {
    Calls openings;
    for (const std::string& call : fake.calls()) {
      if (call.find("::OpenMsgStore") != std::string::npos || call.find("::OpenEntry") != std::string::npos) {
        openings.push_back(call);
      }
    }
    return openings;
  }

  std::shared_ptr<FakeSessionConfig> config_;
  MAPIInterface<IMAPISession> session_;
};

TEST_F(FolderResolutionTest, APathOpensItsStoreAndFoldersWithTheirFlags) {
  const std::wstring longComponent = std::wstring(79, L'x') + std::wstring(21, L'y');
  const std::string kStore5 = "IMAPISession::OpenMsgStore size=2 flags=0x5";
  const std::string kTop = "IMsgStore::OpenEntry size=1 flags=0x10";
  struct Case {
    std::wstring path;
    uint32_t silent;
    HRESULT result;
    std::string folder;
    Calls openings;
  } cases[] = {
      {L"Team Mailbox#Inbox#Reports", 1, S_OK, "Reports",
       {kStore5, kTop, "IMsgStore::OpenEntry size=1 flags=0x10", "IMsgStore::OpenEntry size=1 flags=0x1"}},
      {L"Team Mailbox", 0, S_OK, "Top of Information Store",
       {"IMAPISession::OpenMsgStore size=2 flags=0x4", kTop}},
      {L"Team Mailbox#Inbox#", 1, S_OK, "Inbox", {kStore5, kTop, "IMsgStore::OpenEntry size=1 flags=0x10"}},
      {L"Team Mailbox#Inbox##Reports", 1, S_OK, "Inbox", {kStore5, kTop, "IMsgStore::OpenEntry size=1 flags=0x10"}},
      {L"Team Mailbox#" + longComponent, 1, S_OK, "Long", {kStore5, kTop, "IMsgStore::OpenEntry size=1 flags=0x1"}},
      {L"Team Mailbox#inbox", 1, MAPI_E_NOT_FOUND, "<none>", {kStore5, kTop}},
      {L"Team Mailbox#Inbox#Reports#Deeper", 1, MAPI_E_NOT_FOUND, "<none>",
       {kStore5, kTop, "IMsgStore::OpenEntry size=1 flags=0x10", "IMsgStore::OpenEntry size=1 flags=0x10"}},
      {L"Nobody#Inbox", 1, MAPI_E_NOT_FOUND, "<none>", {}},
      {L"#Inbox", 1, E_FAIL, "<none>", {}},
      {L"", 1, E_FAIL, "<none>", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.path));
    fake.ClearCalls();
    MAPIInterface<IMsgStore> store;
    MAPIInterface<IMAPIFolder> folder;
    EXPECT_EQ(c.result, ResolveFolderPath(session_.get(), c.path.c_str(), c.silent, store, folder));
    EXPECT_EQ(c.folder, NameOf(folder.get()));
    EXPECT_EQ(c.openings, Openings());
    EXPECT_EQ(c.result == S_OK || !c.openings.empty(), static_cast<bool>(store)) << "the store stays with the caller";
    int held = 1 + (store ? 1 : 0) + (folder ? 1 : 0);
    EXPECT_EQ(held, fake.liveObjects()) << "the session, the store and the folder, nothing else";
  }
  MAPIInterface<IMsgStore> store;
  MAPIInterface<IMAPIFolder> folder;
  EXPECT_EQ(E_FAIL, ResolveFolderPath(session_.get(), nullptr, 1, store, folder));
}

TEST_F(FolderResolutionTest, AFailingOpenPassesItsResultOnAndReleasesTheFolder) {
  struct Case {
    const char* call;
    unsigned nth;
    HRESULT result;
  } cases[] = {
      {"IMAPISession::GetMsgStoresTable", 1, MAPI_E_CALL_FAILED},
      {"IMAPISession::OpenMsgStore", 1, MAPI_E_NO_ACCESS},
      {"HrGetOneProp", 1, MAPI_E_NOT_FOUND},
      {"IMAPIFolder::GetHierarchyTable", 2, MAPI_E_NO_SUPPORT},
      {"IMAPITable::SetColumns", 3, MAPI_E_BUSY},  // the wait fails too
      {"IMsgStore::OpenEntry", 3, MAPI_E_NO_ACCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    fake.FailCall(c.call, c.result, c.nth);
    if (c.result == MAPI_E_BUSY) fake.FailCall("IMAPITable::WaitForCompletion", MAPI_E_TIMEOUT);
    MAPIInterface<IMsgStore> store;
    MAPIInterface<IMAPIFolder> folder;
    const HRESULT expected = c.result == MAPI_E_BUSY ? MAPI_E_TIMEOUT : c.result;
    EXPECT_EQ(expected, ResolveFolderPath(session_.get(), L"Team Mailbox#Inbox#Reports", 1, store, folder));
    EXPECT_FALSE(folder);
    EXPECT_EQ(1 + (store ? 1 : 0), fake.liveObjects());
  }
}

TEST_F(FolderResolutionTest, PersonalReportsGoToTheDefaultStoresCommonViews) {
  const FakeProp top = FakeProp::Binary(PR_IPM_SUBTREE_ENTRYID, kTopId);
  const FakeProp views = FakeProp::Binary(PR_COMMON_VIEWS_ENTRYID, kCommonViewsId);
  struct Case {
    const char* what;
    FakeRow storeProps;
    bool defaultStore;
    HRESULT result;
    std::string folder;
  } cases[] = {
      {"valid", {top, FakeProp::Long(PR_VALID_FOLDER_MASK, FOLDER_COMMON_VIEWS_VALID), views}, true, S_OK,
       "Common Views"},
      {"not marked valid", {top, FakeProp::Long(PR_VALID_FOLDER_MASK, FOLDER_IPM_SUBTREE_VALID), views}, true, S_OK,
       "<none>"},
      {"no Common Views id", {top, FakeProp::Long(PR_VALID_FOLDER_MASK, FOLDER_COMMON_VIEWS_VALID)}, true, E_FAIL,
       "<none>"},
      {"no mask", {top, views}, true, E_FAIL, "<none>"},
      {"no default store", {top, FakeProp::Long(PR_VALID_FOLDER_MASK, FOLDER_COMMON_VIEWS_VALID), views}, false,
       MAPI_E_NOT_FOUND, "<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetStoreProps(c.storeProps);
    config_->storeRows[1][2] = FakeProp::Bool(PR_DEFAULT_STORE, c.defaultStore);
    fake.ClearCalls();
    MAPIInterface<IMAPIFolder> folder;
    EXPECT_EQ(c.result, OpenPersonalFolder(session_.get(), folder));
    EXPECT_EQ(c.folder, NameOf(folder.get()));
    if (c.defaultStore) {
      EXPECT_EQ("IMAPISession::OpenMsgStore size=2 flags=0x4", Openings().at(0)) << "MDB_WRITE, the default store";
    }
    EXPECT_EQ(folder ? 2 : 1, fake.liveObjects()) << "the store is released before returning";
  }
}

}  // namespace
