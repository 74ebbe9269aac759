// The test diagnostics: forced results on the Nth call, the call trace, and
// the accounting every other test relies on. Busy tables and failed logons
// are checked where the module meets them.
#include "provider_fixture.h"

#include "files.h"

namespace provider_test {
namespace {

class DiagnosticsTest : public ProviderTest {
 protected:
  void SetUp() override {
    ProviderTest::SetUp();
    MakeProfile(L"Work", L"", {{L"Mailbox", L"mailbox"}, {L"Archive", L"archive"}});
    session_ = LogonOrFail(L"Work");
    ASSERT_TRUE(session_);
    ASSERT_EQ(S_OK, session_->GetMsgStoresTable(0, table_.put()));
  }
  void TearDown() override {
    table_.reset();
    session_.reset();
    ProviderTest::TearDown();
  }
  Session session_;
  Table table_;
};

TEST_F(DiagnosticsTest, OnlyTheNthCallFails) {
  ASSERT_EQ(S_OK, KvMapiInjectFault("IMAPITable::GetRowCount", 2, MAPI_E_CALL_FAILED));
  ASSERT_EQ(S_OK, KvMapiInjectFault("IMAPISession::OpenMsgStore", 1, MAPI_E_NO_ACCESS));
  ULONG count = 0;
  std::vector<HRESULT> results;
  for (int i = 0; i < 3; ++i) results.push_back(table_->GetRowCount(0, &count));
  EXPECT_EQ((std::vector<HRESULT>{S_OK, MAPI_E_CALL_FAILED, S_OK}), results);
  Store store = OpenStore(session_.get(), L"Mailbox", MDB_WRITE, MAPI_E_NO_ACCESS);  // the injected fault
  EXPECT_FALSE(store);
  store = OpenStore(session_.get(), L"Mailbox");
  EXPECT_TRUE(store);
  EXPECT_EQ(MAPI_E_INVALID_PARAMETER, KvMapiInjectFault("no separator", 1, MAPI_E_BUSY));
  EXPECT_EQ(MAPI_E_INVALID_PARAMETER, KvMapiInjectFault("IMAPITable::QueryRows", 0, MAPI_E_BUSY));
}

TEST_F(DiagnosticsTest, TraceRecordsInterfaceMethodFlagsAndResult) {
  std::wstring trace = directory_ + L"\\trace.txt";
  SetEnvironmentVariableW(KV_MAPI_TRACE_VARIABLE, trace.c_str());
  ASSERT_EQ(S_OK, KvMapiInjectFault("IMAPITable::SetColumns", 1, MAPI_E_BUSY));
  Session session;
  ASSERT_EQ(S_OK, Logon(L"Work", nullptr, 0, session));
  Table table;
  ASSERT_EQ(S_OK, session->GetStatusTable(MAPI_UNICODE, table.put()));
  SizedSPropTagArray(1, columns) = {1, {PR_DISPLAY_NAME_A}};
  EXPECT_EQ(MAPI_E_BUSY, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
  SetEnvironmentVariableW(KV_MAPI_TRACE_VARIABLE, nullptr);
  EXPECT_EQ(S_OK, table->WaitForCompletion(0, 100, nullptr));  // not traced any more
  std::string text;
  ASSERT_EQ(provider::FileRead::Ok, provider::ReadWholeFile(trace, text));
  EXPECT_EQ(
      "MAPI::MAPILogonEx flags=0x80008022 -> 0x00000000\r\n"
      "IMAPISession::GetStatusTable flags=0x80000000 -> 0x00000000\r\n"
      "IMAPITable::SetColumns flags=0x00000000 -> 0x8004010B\r\n",
      text);
}

TEST_F(DiagnosticsTest, AccountingFollowsObjectsAndBuffers) {
  EXPECT_EQ(2, KvMapiLiveObjects()) << "the session and its table";
  Store store = OpenStore(session_.get(), L"Archive");
  ASSERT_TRUE(store);
  EXPECT_EQ(3, KvMapiLiveObjects());
  UniqueInterface<IMAPIProp> sameStore;
  ASSERT_EQ(S_OK, store->QueryInterface(IID_IMAPIProp, reinterpret_cast<void**>(sameStore.put())));
  EXPECT_EQ(3, KvMapiLiveObjects()) << "another reference is not another object";
  ULONG size = 0;
  LPENTRYID id = nullptr;
  ASSERT_EQ(S_OK, session_->QueryIdentity(&size, &id));
  EXPECT_EQ(1, KvMapiOutstandingBuffers());
  MAPIFreeBuffer(id);
  EXPECT_EQ(0, KvMapiOutstandingBuffers());
  store.reset();
  EXPECT_EQ(3, KvMapiLiveObjects());
  sameStore.reset();
  EXPECT_EQ(2, KvMapiLiveObjects());
  EXPECT_EQ(0u, table_->Release());
  table_.release();
  EXPECT_EQ(1, KvMapiLiveObjects());
}

TEST_F(DiagnosticsTest, SwitchedOffWithoutTheEnvironmentVariable) {
  SetEnvironmentVariableW(KV_MAPI_DIAGNOSTICS_VARIABLE, nullptr);
  EXPECT_EQ(-1, KvMapiLiveObjects());
  EXPECT_EQ(-1, KvMapiOutstandingBuffers());
  EXPECT_EQ(MAPI_E_NO_SUPPORT, KvMapiInjectFault("IMAPITable::QueryRows", 1, MAPI_E_BUSY));
  SetEnvironmentVariableW(KV_MAPI_DIAGNOSTICS_VARIABLE, L"1");
  ULONG count = 0;
  EXPECT_EQ(S_OK, table_->GetRowCount(0, &count)) << "nothing was armed while switched off";
}

}  // namespace
}  // namespace provider_test
