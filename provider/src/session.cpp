#include "session.h"

#include <mapitags.h>

#include "mail_user.h"
#include "msg_store.h"
#include "resource_ids.h"
#include "table.h"

namespace provider {
namespace {
constexpr const char* kName = "IMAPISession";

bool IsStoreInterface(LPCIID iface) {
  return !iface || IsEqualIID(*iface, IID_IMsgStore) || IsEqualIID(*iface, IID_IMAPIProp) ||
         IsEqualIID(*iface, IID_IUnknown);
}
}  // namespace

SessionObject::SessionObject(std::shared_ptr<SessionState> state) : state_(std::move(state)) {}

HRESULT SessionObject::NoSupport(const char* method, ULONG flags) {
  return Guard(kName, method, flags, [] { return MAPI_E_NO_SUPPORT; });
}

STDMETHODIMP SessionObject::GetLastError(HRESULT result, ULONG flags, LPMAPIERROR* error) {
  if (error) *error = nullptr;
  return Guard(kName, "GetLastError", flags, [&] { return BuildMapiError(result, flags, error); });
}

STDMETHODIMP SessionObject::GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) {
  if (table) *table = nullptr;
  return Guard(kName, "GetMsgStoresTable", flags, [&]() -> HRESULT {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~MAPI_UNICODE) return MAPI_E_UNKNOWN_FLAGS;
    if (state_->loggedOff) return MAPI_E_END_OF_SESSION;
    std::wstring providerName = LoadProviderText(IDS_COMPONENT);
    std::vector<TableRow> rows;
    LONG rowId = 0;
    for (const auto& store : state_->stores) {
      TableRow row;
      row.push_back(Value::Binary(PR_ENTRYID, store->StoreEntryId()));
      row.push_back(Value::Text(PR_DISPLAY_NAME_W, store->config.name));
      row.push_back(Value::Bool(PR_DEFAULT_STORE, store->isDefault));
      row.push_back(Value::Long(PR_RESOURCE_FLAGS, store->isDefault ? STATUS_DEFAULT_STORE : 0));
      row.push_back(Value::Binary(PR_RECORD_KEY, store->storeId));
      row.push_back(Value::Binary(PR_INSTANCE_KEY, store->storeId));
      row.push_back(Value::Binary(PR_MDB_PROVIDER, std::vector<uint8_t>(kProviderUid.ab, kProviderUid.ab + 16)));
      row.push_back(Value::Text(PR_PROVIDER_DISPLAY_W, providerName));
      row.push_back(Value::Long(PR_OBJECT_TYPE, MAPI_STORE));
      row.push_back(Value::Long(PR_ROWID, rowId++));
      rows.push_back(std::move(row));
    }
    static const std::vector<ULONG> columns = {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_DEFAULT_STORE, PR_RESOURCE_FLAGS,
                                               PR_RECORD_KEY, PR_INSTANCE_KEY, PR_MDB_PROVIDER, PR_PROVIDER_DISPLAY_W,
                                               PR_OBJECT_TYPE, PR_ROWID};
    *table = new TableObject(std::move(rows), columns, columns, (flags & MAPI_UNICODE) != 0);
    return S_OK;
  });
}

STDMETHODIMP SessionObject::OpenMsgStore(ULONG_PTR, ULONG size, LPENTRYID id, LPCIID iface, ULONG flags, LPMDB* store) {
  if (store) *store = nullptr;
  return Guard(kName, "OpenMsgStore", flags, [&]() -> HRESULT {
    if (!store || !id) return MAPI_E_INVALID_PARAMETER;
    if (state_->loggedOff) return MAPI_E_END_OF_SESSION;
    if (!IsStoreInterface(iface)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    EntryId entry;
    if (!DecodeEntryId(size, id, entry) || entry.kind != EntryKind::Store) return MAPI_E_INVALID_ENTRYID;
    std::shared_ptr<StoreState> found = state_->FindStore(entry.store);
    if (!found) return MAPI_E_NOT_FOUND;
    HRESULT available = found->Available();
    if (FAILED(available)) return available;
    bool wantsWrite = (flags & MDB_WRITE) != 0;
    if (wantsWrite && found->config.readOnly) return MAPI_E_NO_ACCESS;
    bool writable = !found->config.readOnly && (flags & (MDB_WRITE | MAPI_BEST_ACCESS));
    *store = new StoreObject(found, writable);
    return S_OK;
  });
}

STDMETHODIMP SessionObject::OpenAddressBook(ULONG_PTR, LPCIID, ULONG flags, LPADRBOOK* book) {
  if (book) *book = nullptr;
  return NoSupport("OpenAddressBook", flags);
}

STDMETHODIMP SessionObject::OpenProfileSection(LPMAPIUID, LPCIID, ULONG flags, LPPROFSECT* section) {
  if (section) *section = nullptr;
  return NoSupport("OpenProfileSection", flags);
}

STDMETHODIMP SessionObject::GetStatusTable(ULONG flags, LPMAPITABLE* table) {
  if (table) *table = nullptr;
  return Guard(kName, "GetStatusTable", flags, [&]() -> HRESULT {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~MAPI_UNICODE) return MAPI_E_UNKNOWN_FLAGS;
    if (state_->loggedOff) return MAPI_E_END_OF_SESSION;
    std::wstring providerName = LoadProviderText(IDS_COMPONENT);
    std::vector<TableRow> rows;
    // The subsystem's row carries the profile's name.
    TableRow subsystem;
    subsystem.push_back(Value::Long(PR_ROWID, 0));
    subsystem.push_back(Value::Long(PR_RESOURCE_TYPE, MAPI_SUBSYSTEM));
    subsystem.push_back(Value::Text(PR_DISPLAY_NAME_W, state_->profileName));
    subsystem.push_back(Value::Long(PR_RESOURCE_FLAGS, 0));
    subsystem.push_back(Value::Long(PR_STATUS_CODE, STATUS_AVAILABLE));
    subsystem.push_back(Value::Long(PR_OBJECT_TYPE, MAPI_STATUS));
    rows.push_back(std::move(subsystem));
    LONG rowId = 1;
    for (const auto& store : state_->stores) {
      TableRow row;
      row.push_back(Value::Long(PR_ROWID, rowId++));
      row.push_back(Value::Long(PR_RESOURCE_TYPE, MAPI_STORE_PROVIDER));
      row.push_back(Value::Text(PR_DISPLAY_NAME_W, store->config.name));
      row.push_back(Value::Long(PR_RESOURCE_FLAGS, store->isDefault ? STATUS_DEFAULT_STORE : 0));
      row.push_back(Value::Long(PR_STATUS_CODE, SUCCEEDED(store->unavailable) ? STATUS_AVAILABLE : STATUS_FAILURE));
      row.push_back(Value::Long(PR_OBJECT_TYPE, MAPI_STATUS));
      row.push_back(Value::Text(PR_PROVIDER_DISPLAY_W, providerName));
      row.push_back(Value::Binary(PR_ENTRYID, store->StoreEntryId()));
      rows.push_back(std::move(row));
    }
    static const std::vector<ULONG> columns = {PR_ROWID,       PR_RESOURCE_TYPE, PR_DISPLAY_NAME_W,   PR_RESOURCE_FLAGS,
                                               PR_STATUS_CODE, PR_OBJECT_TYPE,   PR_PROVIDER_DISPLAY_W, PR_ENTRYID};
    *table = new TableObject(std::move(rows), columns, columns, (flags & MAPI_UNICODE) != 0);
    return S_OK;
  });
}

STDMETHODIMP SessionObject::OpenEntry(ULONG size, LPENTRYID id, LPCIID iface, ULONG flags, ULONG* type,
                                      LPUNKNOWN* object) {
  if (type) *type = 0;
  if (object) *object = nullptr;
  return Guard(kName, "OpenEntry", flags, [&]() -> HRESULT {
    if (!object) return MAPI_E_INVALID_PARAMETER;
    if (state_->loggedOff) return MAPI_E_END_OF_SESSION;
    EntryId entry;
    if (!DecodeEntryId(size, id, entry)) return size == 0 ? MAPI_E_INVALID_PARAMETER : MAPI_E_UNKNOWN_ENTRYID;
    if (entry.kind == EntryKind::User) {
      if (std::vector<uint8_t>(reinterpret_cast<uint8_t*>(id), reinterpret_cast<uint8_t*>(id) + size) != state_->userEntryId)
        return MAPI_E_NOT_FOUND;
      if (iface && !IsEqualIID(*iface, IID_IMailUser) && !IsEqualIID(*iface, IID_IMAPIProp) &&
          !IsEqualIID(*iface, IID_IUnknown))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
      *object = static_cast<IMailUser*>(new MailUserObject(state_));
      if (type) *type = MAPI_MAILUSER;
      return S_OK;
    }
    std::shared_ptr<StoreState> store = state_->FindStore(entry.store);
    if (!store) return MAPI_E_NOT_FOUND;
    HRESULT available = store->Available();
    if (FAILED(available)) return available;
    bool wantsWrite = (flags & MAPI_MODIFY) != 0;
    bool storeWritable = !store->config.readOnly;
    if (entry.kind == EntryKind::Store) {
      if (!IsStoreInterface(iface)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
      if (wantsWrite && !storeWritable) return MAPI_E_NO_ACCESS;
      *object = static_cast<IMsgStore*>(new StoreObject(store, storeWritable && (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS))));
      if (type) *type = MAPI_STORE;
      return S_OK;
    }
    return OpenStoreEntry(store, storeWritable, size, id, iface, flags, type, object);
  });
}

STDMETHODIMP SessionObject::CompareEntryIDs(ULONG size1, LPENTRYID id1, ULONG size2, LPENTRYID id2, ULONG flags,
                                            ULONG* result) {
  return Guard(kName, "CompareEntryIDs", flags, [&]() -> HRESULT {
    if (!result) return MAPI_E_INVALID_PARAMETER;
    *result = FALSE;
    EntryId a, b;
    if (!DecodeEntryId(size1, id1, a) || !DecodeEntryId(size2, id2, b)) return MAPI_E_UNKNOWN_ENTRYID;
    *result = a.kind == b.kind && a.store == b.store && a.folder == b.folder && a.object == b.object;
    return S_OK;
  });
}

STDMETHODIMP SessionObject::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG* connection) {
  if (connection) *connection = 0;
  return NoSupport("Advise", 0);
}

STDMETHODIMP SessionObject::Unadvise(ULONG) { return NoSupport("Unadvise", 0); }

STDMETHODIMP SessionObject::MessageOptions(ULONG_PTR, ULONG flags, LPTSTR, LPMESSAGE) {
  return NoSupport("MessageOptions", flags);
}

STDMETHODIMP SessionObject::QueryDefaultMessageOpt(LPTSTR, ULONG flags, ULONG* count, LPSPropValue* options) {
  if (count) *count = 0;
  if (options) *options = nullptr;
  return NoSupport("QueryDefaultMessageOpt", flags);
}

STDMETHODIMP SessionObject::EnumAdrTypes(ULONG flags, ULONG* count, LPTSTR** types) {
  if (count) *count = 0;
  if (types) *types = nullptr;
  return NoSupport("EnumAdrTypes", flags);
}

STDMETHODIMP SessionObject::QueryIdentity(ULONG* size, LPENTRYID* id) {
  if (size) *size = 0;
  if (id) *id = nullptr;
  return Guard(kName, "QueryIdentity", 0, [&]() -> HRESULT {
    if (!size || !id) return MAPI_E_INVALID_PARAMETER;
    if (state_->loggedOff) return MAPI_E_END_OF_SESSION;
    void* raw = nullptr;
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(state_->userEntryId.size()), &raw);
    if (FAILED(hr)) return hr;
    memcpy(raw, state_->userEntryId.data(), state_->userEntryId.size());
    *size = static_cast<ULONG>(state_->userEntryId.size());
    *id = static_cast<LPENTRYID>(raw);
    return S_OK;
  });
}

STDMETHODIMP SessionObject::Logoff(ULONG_PTR, ULONG flags, ULONG) {
  return Guard(kName, "Logoff", flags, [&]() -> HRESULT {
    state_->loggedOff = true;
    return S_OK;
  });
}

STDMETHODIMP SessionObject::SetDefaultStore(ULONG flags, ULONG, LPENTRYID) { return NoSupport("SetDefaultStore", flags); }

STDMETHODIMP SessionObject::AdminServices(ULONG flags, LPSERVICEADMIN* admin) {
  if (admin) *admin = nullptr;
  return NoSupport("AdminServices", flags);
}

STDMETHODIMP SessionObject::ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG flags, ULONG, ULONG,
                                     ULONG, LPSTR) {
  return NoSupport("ShowForm", flags);
}

STDMETHODIMP SessionObject::PrepareForm(LPCIID, LPMESSAGE, ULONG* token) {
  if (token) *token = 0;
  return NoSupport("PrepareForm", 0);
}

}  // namespace provider
