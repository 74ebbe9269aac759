#include "bench_provider.h"

#include <mapiutil.h>

#include <vector>

#include <kvcommon/mapi_owners.h>

#include "admin_lib.h"
#include "bench_support.h"
#include "files.h"
#include "folder_index.h"
#include "store_layout.h"

namespace bench {

bool PrepareProvider(const std::wstring& folder, Provider& out) {
  const std::wstring profiles = folder + L"\\profiles.ini";
  SetEnvironmentVariableW(L"KV_MAPI_PROFILES", profiles.c_str());
  provider::admin::ProfileRequest request;
  request.profile.name = kProfileName;
  provider::StoreConfig store;
  store.name = L"Mailbox";
  store.directory = folder + L"\\store";
  request.profile.stores.push_back(store);
  request.folders = {kFolderPath};
  std::wstring error;
  if (!provider::admin::CreateProfile(profiles, request, error)) return false;
  std::unique_ptr<provider::StoreLayout> layout;
  provider::FolderRecord record;
  if (provider::StoreLayout::Open(store.directory, layout) != provider::StoreResult::Ok ||
      layout->FindByPath(L"Postings", record) != provider::StoreResult::Ok)
    return false;
  out.folderDirectory = record.directory;
  return true;
}

bool LogOnProvider(const std::wstring& folder, Provider& out) {
  return PrepareProvider(folder, out) &&
         SUCCEEDED(MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(kProfileName)), nullptr,
                               MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, out.session.put()));
}

bool OpenPostingFolder(Provider& out, const std::wstring& name) {
  kvcommon::UniqueInterface<IMAPITable> stores;
  if (FAILED(out.session->GetMsgStoresTable(0, stores.put()))) return false;
  kvcommon::UniqueRowSet rows;
  SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
  if (FAILED(HrQueryAllRows(stores.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                            rows.put())))
    return false;
  SBinary id = rows->aRow[0].lpProps[0].Value.bin;
  HRESULT hr = out.session->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MDB_WRITE,
                                         out.store.put());
  if (FAILED(hr)) return false;
  std::vector<uint8_t> folderId;
  {
    // The folder's entry identifier as its hierarchy row gives it.
    kvcommon::UniqueMapiBuffer<SPropValue> top;
    if (FAILED(HrGetOneProp(out.store.get(), PR_IPM_SUBTREE_ENTRYID, top.put()))) return false;
    kvcommon::UniqueInterface<IMAPIFolder> ipm;
    ULONG type = 0;
    if (FAILED(out.store->OpenEntry(top->Value.bin.cb, reinterpret_cast<LPENTRYID>(top->Value.bin.lpb), nullptr, 0,
                                    &type, ipm.putUnknown())))
      return false;
    kvcommon::UniqueInterface<IMAPITable> children;
    if (FAILED(ipm->GetHierarchyTable(MAPI_UNICODE, children.put()))) return false;
    SizedSPropTagArray(2, named) = {2, {PR_ENTRYID, PR_DISPLAY_NAME_W}};
    if (FAILED(HrQueryAllRows(children.get(), reinterpret_cast<LPSPropTagArray>(&named), nullptr, nullptr, 0,
                              rows.put())))
      return false;
    for (ULONG i = 0; i < rows->cRows && folderId.empty(); ++i) {
      const SPropValue* row = rows->aRow[i].lpProps;
      if (!name.empty() && (row[1].ulPropTag != PR_DISPLAY_NAME_W || name != row[1].Value.lpszW)) continue;
      folderId.assign(row[0].Value.bin.lpb, row[0].Value.bin.lpb + row[0].Value.bin.cb);
    }
    if (folderId.empty()) return false;
  }
  ULONG type = 0;
  return SUCCEEDED(out.store->OpenEntry(static_cast<ULONG>(folderId.size()), reinterpret_cast<LPENTRYID>(folderId.data()),
                                       nullptr, MAPI_MODIFY, &type, reinterpret_cast<LPUNKNOWN*>(out.folder.put())));
}

bool OpenProvider(const std::wstring& folder, Provider& out) {
  return LogOnProvider(folder, out) && OpenPostingFolder(out);
}

bool ReadSender(IMAPISession* session, Sender& out) {
  ULONG size = 0;
  kvcommon::UniqueMapiBuffer<ENTRYID> id;
  if (FAILED(session->QueryIdentity(&size, id.put()))) return false;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(id.get());
  out.entryId.assign(bytes, bytes + size);
  kvcommon::UniqueInterface<IMailUser> user;
  ULONG type = 0;
  if (FAILED(session->OpenEntry(size, id.get(), nullptr, 0, &type, user.putUnknown()))) return false;
  SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_W, PR_SEARCH_KEY}};
  ULONG count = 0;
  kvcommon::UniqueMapiBuffer<SPropValue> values;
  if (FAILED(user->GetProps(reinterpret_cast<LPSPropTagArray>(&columns), 0, &count, values.put()))) return false;
  if (count != 2 || PROP_TYPE(values->ulPropTag) != PT_UNICODE || PROP_TYPE(values.get()[1].ulPropTag) != PT_BINARY)
    return false;
  out.name = values->Value.lpszW;
  const SBinary& key = values.get()[1].Value.bin;
  out.searchKey.assign(key.lpb, key.lpb + key.cb);
  return true;
}

void EmptyFolder(const Provider& provider) {
  EmptyFolderDirectory(provider.folderDirectory);
}

void EmptyFolderDirectory(const std::wstring& folderDirectory) {
  DeleteFilesIn(provider::MessagesDirectory(folderDirectory));
  // An empty index rather than none, so that the next posting does not look
  // through the folder's files to make one.
  provider::WriteFileAtomically(provider::IndexPath(folderDirectory),
                                provider::IndexHeader(provider::IndexCounts(), provider::kIndexHeaderBytes));
}

}  // namespace bench
