// What every provider test shares: a private profiles file in a temporary
// directory, MAPIInitialize around each test, owners for what MAPI hands out,
// and the closing check that the provider holds no object and no buffer.
#pragma once

#include <windows.h>

#include <mapix.h>
#include <mapiutil.h>
#include <mapiguid.h>

#include <gtest/gtest.h>

#include <kvcommon/mapi_owners.h>
#include <kvcommon/unique_resource.h>
#include <kvprovider/diagnostics.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "admin_lib.h"
#include "folder_repair.h"
#include "store_layout.h"
#include "text.h"

namespace provider_test {

using kvcommon::UniqueInterface;
using Session = UniqueInterface<IMAPISession>;
using Table = UniqueInterface<IMAPITable>;
using Store = UniqueInterface<IMsgStore>;
using Folder = UniqueInterface<IMAPIFolder>;

template <typename T>
using Buffer = kvcommon::UniqueMapiBuffer<T>;
using Rows = kvcommon::UniqueRowSet;

// A row cell read back as text, for comparing tables with expected values.
std::string Narrow(const SPropValue& value);
std::wstring Wide(const std::string& utf8);

class ProviderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates (or replaces) a profile through the admin library.
  void MakeProfile(const std::wstring& name, const std::wstring& password,
                   const std::vector<std::pair<std::wstring, std::wstring>>& stores,  // name, directory below the temp dir
                   const std::vector<std::wstring>& folders = {}, bool makeDefault = false,
                   const std::wstring& defaultStore = L"");
  void WriteProfilesText(const std::string& text);

  HRESULT Logon(const wchar_t* profile, const wchar_t* password, ULONG flags, Session& session);
  Session LogonOrFail(const wchar_t* profile, const wchar_t* password = L"");
  // Opens a store found by name in the stores table; expected is what OpenMsgStore must answer.
  Store OpenStore(IMAPISession* session, const std::wstring& name, ULONG flags = MDB_WRITE, HRESULT expected = S_OK);
  Folder OpenTop(IMsgStore* store, ULONG flags = MAPI_BEST_ACCESS);
  // A folder by display names below the top of information store.
  Folder OpenPath(IMsgStore* store, const std::vector<std::wstring>& names, ULONG flags = MAPI_BEST_ACCESS);
  // The record of the folder at path (below the top of information store)
  // in the store directory_\\storeDirectory, read from the disk.
  void FindFolderRecord(const std::wstring& path, provider::FolderRecord& out,
                        const std::wstring& storeDirectory = L"mailbox");
  // The names of the files (not directories) in directory, sorted.
  static std::vector<std::wstring> FilesIn(const std::wstring& directory);
  // The files of a folder's messages\, its buckets and composing\, as paths
  // below the folder's directory.
  static std::vector<std::wstring> MessageFilesOf(const std::wstring& folderDirectory);
  // Appends index lines the way a posting does, without message files.
  static provider::StoreResult AddIndexEntries(const std::wstring& folderDirectory,
                                               const std::vector<provider::IndexEntry>& entries);
  // Every row of a table, after SetColumns.
  std::vector<std::vector<std::string>> ReadAll(IMAPITable* table, const std::vector<ULONG>& columns);

  std::wstring directory_;
  std::wstring profilesPath_;
};

}  // namespace provider_test
