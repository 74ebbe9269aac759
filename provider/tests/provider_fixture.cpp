#include "provider_fixture.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>

#include "files.h"
#include "message_paths.h"
#include "text.h"

namespace provider_test {

std::string Narrow(const SPropValue& value) {
  char buffer[64];
  switch (PROP_TYPE(value.ulPropTag)) {
    case PT_STRING8: return value.Value.lpszA;
    case PT_UNICODE: return provider::ToUtf8(value.Value.lpszW);
    case PT_LONG: snprintf(buffer, sizeof buffer, "%ld", static_cast<long>(value.Value.l)); return buffer;
    case PT_BOOLEAN: return value.Value.b ? "true" : "false";
    case PT_ERROR: snprintf(buffer, sizeof buffer, "error 0x%08lX", static_cast<unsigned long>(value.Value.err)); return buffer;
    case PT_BINARY: return "binary " + std::to_string(value.Value.bin.cb);
    default: return "type " + std::to_string(PROP_TYPE(value.ulPropTag));
  }
}

std::wstring Wide(const std::string& utf8) {
  std::wstring out;
  provider::FromUtf8(utf8, out);
  return out;
}

void ProviderTest::SetUp() {
  SetEnvironmentVariableW(KV_MAPI_DIAGNOSTICS_VARIABLE, L"1");
  SetEnvironmentVariableW(KV_MAPI_TRACE_VARIABLE, nullptr);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  static int counter = 0;
  directory_ = std::wstring(temp) + L"kvprov-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
  ASSERT_TRUE(CreateDirectoryW(directory_.c_str(), nullptr));
  profilesPath_ = directory_ + L"\\profiles.ini";
  SetEnvironmentVariableW(KV_MAPI_PROFILES_VARIABLE, profilesPath_.c_str());
  ASSERT_EQ(S_OK, MAPIInitialize(nullptr));
  ASSERT_EQ(0, KvMapiLiveObjects()) << "a test before this one leaked objects";
  ASSERT_EQ(0, KvMapiOutstandingBuffers()) << "a test before this one leaked buffers";
}

void ProviderTest::TearDown() {
  KvMapiClearFaults();
  MAPIUninitialize();
  EXPECT_EQ(0, KvMapiLiveObjects()) << "objects still alive at the end of the test";
  EXPECT_EQ(0, KvMapiOutstandingBuffers()) << "MAPI buffers not freed at the end of the test";
  std::wstring from = directory_ + L'\0';
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_NO_UI;
  SHFileOperationW(&operation);
}

void ProviderTest::MakeProfile(const std::wstring& name, const std::wstring& password,
                               const std::vector<std::pair<std::wstring, std::wstring>>& stores,
                               const std::vector<std::wstring>& folders, bool makeDefault,
                               const std::wstring& defaultStore) {
  provider::admin::ProfileRequest request;
  request.profile.name = name;
  request.profile.password = password;
  request.profile.userName = name + L" User";
  request.profile.defaultStore = defaultStore;
  for (const auto& store : stores) {
    provider::StoreConfig config;
    config.name = store.first;
    config.directory = directory_ + L"\\" + store.second;
    request.profile.stores.push_back(config);
  }
  request.folders = folders;
  request.makeDefault = makeDefault;
  std::wstring error;
  ASSERT_TRUE(provider::admin::CreateProfile(profilesPath_, request, error)) << provider::ToUtf8(error);
}

void ProviderTest::WriteProfilesText(const std::string& text) {
  ASSERT_TRUE(provider::WriteFileAtomically(profilesPath_, text));
}

HRESULT ProviderTest::Logon(const wchar_t* profile, const wchar_t* password, ULONG flags, Session& session) {
  return MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(profile)),
                     reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(password)),
                     flags | MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, session.put());
}

Session ProviderTest::LogonOrFail(const wchar_t* profile, const wchar_t* password) {
  Session session;
  HRESULT hr = Logon(profile, password, 0, session);
  EXPECT_EQ(S_OK, hr);
  return session;
}

Store ProviderTest::OpenStore(IMAPISession* session, const std::wstring& name, ULONG flags, HRESULT expected) {
  Store store;
  Table table;
  EXPECT_EQ(S_OK, session->GetMsgStoresTable(0, table.put()));
  if (!table) return store;
  SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_A, PR_ENTRYID}};
  EXPECT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
  Rows rows;
  SRowSet* raw = nullptr;
  EXPECT_EQ(S_OK, table->QueryRows(100, 0, &raw));
  rows.reset(raw);
  for (ULONG i = 0; rows && i < rows->cRows; ++i) {
    const SRow& row = rows->aRow[i];
    if (row.lpProps[0].ulPropTag == PR_DISPLAY_NAME_A && Wide(row.lpProps[0].Value.lpszA) == name) {
      EXPECT_EQ(expected, session->OpenMsgStore(0, row.lpProps[1].Value.bin.cb,
                                            reinterpret_cast<LPENTRYID>(row.lpProps[1].Value.bin.lpb), &IID_IMsgStore,
                                            flags, store.put()));
    }
  }
  return store;
}

Folder ProviderTest::OpenTop(IMsgStore* store, ULONG flags) {
  Folder folder;
  LPSPropValue raw = nullptr;
  EXPECT_EQ(S_OK, HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, &raw));
  Buffer<SPropValue> value(raw);
  if (!value) return folder;
  ULONG type = 0;
  EXPECT_EQ(S_OK, store->OpenEntry(value->Value.bin.cb, reinterpret_cast<LPENTRYID>(value->Value.bin.lpb),
                                   &IID_IMAPIFolder, flags, &type, folder.putUnknown()));
  EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), type);
  return folder;
}

Folder ProviderTest::OpenPath(IMsgStore* store, const std::vector<std::wstring>& names, ULONG flags) {
  Folder current = OpenTop(store, MAPI_BEST_ACCESS);
  for (size_t level = 0; current && level < names.size(); ++level) {
    Table table;
    EXPECT_EQ(S_OK, current->GetHierarchyTable(MAPI_UNICODE, table.put()));
    if (!table) return Folder();
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_W, PR_ENTRYID}};
    EXPECT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    SRowSet* raw = nullptr;
    EXPECT_EQ(S_OK, table->QueryRows(1000, 0, &raw));
    Rows rows(raw);
    Folder next;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
      const SRow& row = rows->aRow[i];
      if (names[level] != row.lpProps[0].Value.lpszW) continue;
      ULONG type = 0;
      EXPECT_EQ(S_OK, store->OpenEntry(row.lpProps[1].Value.bin.cb, reinterpret_cast<LPENTRYID>(row.lpProps[1].Value.bin.lpb),
                                       &IID_IMAPIFolder, level + 1 == names.size() ? flags : MAPI_BEST_ACCESS, &type,
                                       next.putUnknown()));
    }
    current = std::move(next);
  }
  return current;
}

void ProviderTest::FindFolderRecord(const std::wstring& path, provider::FolderRecord& out,
                                    const std::wstring& storeDirectory) {
  std::unique_ptr<provider::StoreLayout> layout;
  ASSERT_EQ(provider::StoreResult::Ok, provider::StoreLayout::Open(directory_ + L"\\" + storeDirectory, layout));
  ASSERT_EQ(provider::StoreResult::Ok, layout->FindByPath(path, out));
}

std::vector<std::wstring> ProviderTest::FilesIn(const std::wstring& directory) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::wstring> ProviderTest::MessageFilesOf(const std::wstring& folderDirectory) {
  std::vector<std::wstring> names;
  std::vector<std::wstring> pending = {L"composing", L"messages"};
  while (!pending.empty()) {
    const std::wstring below = pending.back();
    pending.pop_back();
    for (const std::wstring& name : FilesIn(folderDirectory + L"\\" + below)) names.push_back(below + L"\\" + name);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folderDirectory + L"\\" + below + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      const std::wstring name = data.cFileName;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
        pending.push_back(below + L"\\" + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  std::sort(names.begin(), names.end());
  return names;
}

provider::StoreResult ProviderTest::AddIndexEntries(const std::wstring& folderDirectory,
                                                   const std::vector<provider::IndexEntry>& entries) {
  provider::IndexWriter writer(folderDirectory);
  provider::StoreResult result = writer.Begin();
  return result == provider::StoreResult::Ok ? writer.Append(entries) : result;
}

std::vector<std::vector<std::string>> ProviderTest::ReadAll(IMAPITable* table, const std::vector<ULONG>& columns) {
  std::vector<std::vector<std::string>> result;
  std::vector<BYTE> storage(CbNewSPropTagArray(columns.size()));
  LPSPropTagArray tags = reinterpret_cast<LPSPropTagArray>(storage.data());
  tags->cValues = static_cast<ULONG>(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) tags->aulPropTag[i] = columns[i];
  EXPECT_EQ(S_OK, table->SetColumns(tags, 0));
  EXPECT_EQ(S_OK, table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr));
  for (;;) {
    SRowSet* raw = nullptr;
    HRESULT hr = table->QueryRows(50, 0, &raw);
    EXPECT_EQ(S_OK, hr);
    Rows rows(raw);
    if (FAILED(hr) || !rows || rows->cRows == 0) break;
    for (ULONG i = 0; i < rows->cRows; ++i) {
      std::vector<std::string> cells;
      for (ULONG c = 0; c < rows->aRow[i].cValues; ++c) cells.push_back(Narrow(rows->aRow[i].lpProps[c]));
      result.push_back(cells);
    }
  }
  return result;
}

}  // namespace provider_test
