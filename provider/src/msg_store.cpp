#include "msg_store.h"

#include <mapitags.h>

#include "folder.h"
#include "message.h"
#include "resource_ids.h"

namespace provider {
namespace {
constexpr const char* kName = "IMsgStore";

HRESULT CompareIds(ULONG size1, LPENTRYID id1, ULONG size2, LPENTRYID id2, ULONG* result) {
  if (!result) return MAPI_E_INVALID_PARAMETER;
  *result = FALSE;
  EntryId a, b;
  if (!DecodeEntryId(size1, id1, a) || !DecodeEntryId(size2, id2, b)) return MAPI_E_UNKNOWN_ENTRYID;
  *result = a.kind == b.kind && a.store == b.store && a.folder == b.folder && a.object == b.object;
  return S_OK;
}
}  // namespace

HRESULT OpenFolder(const std::shared_ptr<StoreState>& store, bool storeWritable, const ObjectId& folderId, LPCIID iface,
                   ULONG flags, ULONG* type, LPUNKNOWN* object) {
  if (iface && !IsEqualIID(*iface, IID_IMAPIFolder) && !IsEqualIID(*iface, IID_IMAPIContainer) &&
      !IsEqualIID(*iface, IID_IMAPIProp) && !IsEqualIID(*iface, IID_IUnknown))
    return MAPI_E_INTERFACE_NOT_SUPPORTED;
  StoreFolder folder;
  bool allowed = false;
  {
    std::lock_guard<std::mutex> guard(store->lock);
    HRESULT hr = StoreResultToHresult(store->store->Find(folderId, folder));
    if (FAILED(hr)) return hr;
    allowed = storeWritable && store->FolderWritable(folder);
  }
  if ((flags & MAPI_MODIFY) && !allowed) return MAPI_E_NO_ACCESS;
  bool writable = allowed && (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS));
  // Opened for writing: checked first, and put right when a trace says so.
  const bool repair = (flags & MAPI_MODIFY) != 0;
  if (repair) {
    HRESULT hr = RepairForWriting(*store, folder);
    if (FAILED(hr)) return hr;
  }
  *object = static_cast<IMAPIFolder*>(new FolderObject(store, std::move(folder), writable, storeWritable, repair));
  if (type) *type = MAPI_FOLDER;
  return S_OK;
}

HRESULT OpenStoreEntry(const std::shared_ptr<StoreState>& store, bool storeWritable, ULONG size, LPENTRYID id,
                       LPCIID iface, ULONG flags, ULONG* type, LPUNKNOWN* object) {
  if (!object) return MAPI_E_INVALID_PARAMETER;
  if (size == 0) return OpenFolder(store, storeWritable, store->store->rootId(), iface, flags, type, object);
  EntryId entry;
  if (!DecodeEntryId(size, id, entry)) return MAPI_E_INVALID_ENTRYID;
  if (entry.store != store->storeId) return MAPI_E_INVALID_ENTRYID;
  switch (entry.kind) {
    case EntryKind::Folder:
      return OpenFolder(store, storeWritable, entry.folder, iface, flags, type, object);
    case EntryKind::Message:
      return OpenMessage(store, entry.folder, entry.object, iface, flags, type, object);
    default:
      return MAPI_E_INVALID_ENTRYID;
  }
}

StoreObject::StoreObject(std::shared_ptr<StoreState> store, bool writable)
    : PropObject(kName), store_(std::move(store)), writable_(writable) {}

bool StoreObject::Supports(REFIID iid) const {
  return IsEqualIID(iid, IID_IMsgStore) || IsEqualIID(iid, IID_IMAPIProp);
}

HRESULT StoreObject::CollectProps(std::vector<Value>& out) {
  ObjectId ipm, views;
  {
    std::lock_guard<std::mutex> guard(store_->lock);
    ipm = store_->store->ipmSubtreeId();
    views = store_->store->commonViewsId();
  }
  const bool hasViews = views != ObjectId{};
  out.push_back(Value::Text(PR_DISPLAY_NAME_W, store_->config.name));
  out.push_back(Value::Binary(PR_ENTRYID, store_->StoreEntryId()));
  out.push_back(Value::Binary(PR_STORE_ENTRYID, store_->StoreEntryId()));
  out.push_back(Value::Binary(PR_RECORD_KEY, store_->storeId));
  out.push_back(Value::Binary(PR_STORE_RECORD_KEY, store_->storeId));
  out.push_back(Value::Binary(PR_INSTANCE_KEY, store_->storeId));
  out.push_back(Value::Binary(PR_MDB_PROVIDER, std::vector<uint8_t>(kProviderUid.ab, kProviderUid.ab + 16)));
  out.push_back(Value::Long(PR_OBJECT_TYPE, MAPI_STORE));
  out.push_back(Value::Binary(PR_IPM_SUBTREE_ENTRYID, FolderEntryId(*store_, ipm)));
  if (hasViews) out.push_back(Value::Binary(PR_COMMON_VIEWS_ENTRYID, FolderEntryId(*store_, views)));
  out.push_back(Value::Long(PR_VALID_FOLDER_MASK, FOLDER_IPM_SUBTREE_VALID | (hasViews ? FOLDER_COMMON_VIEWS_VALID : 0)));
  ULONG support = STORE_ENTRYID_UNIQUE | kStoreUnicodeOk | (writable_ ? STORE_MODIFY_OK : 0);
  out.push_back(Value::Long(PR_STORE_SUPPORT_MASK, static_cast<LONG>(support)));
  out.push_back(Value::Long(PR_STORE_STATE, 0));
  out.push_back(Value::Long(PR_ACCESS_LEVEL, writable_ ? MAPI_MODIFY : 0));
  out.push_back(Value::Text(PR_PROVIDER_DISPLAY_W, LoadProviderText(IDS_COMPONENT)));
  return S_OK;
}

STDMETHODIMP StoreObject::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG* connection) {
  if (connection) *connection = 0;
  return NoSupport("Advise", 0);
}

STDMETHODIMP StoreObject::Unadvise(ULONG) { return NoSupport("Unadvise", 0); }

STDMETHODIMP StoreObject::CompareEntryIDs(ULONG size1, LPENTRYID id1, ULONG size2, LPENTRYID id2, ULONG flags,
                                          ULONG* result) {
  return Guard(kName, "CompareEntryIDs", flags, [&] { return CompareIds(size1, id1, size2, id2, result); });
}

STDMETHODIMP StoreObject::OpenEntry(ULONG size, LPENTRYID id, LPCIID iface, ULONG flags, ULONG* type, LPUNKNOWN* object) {
  if (type) *type = 0;
  if (object) *object = nullptr;
  return Guard(kName, "OpenEntry", flags,
               [&] { return OpenStoreEntry(store_, writable_, size, id, iface, flags, type, object); });
}

STDMETHODIMP StoreObject::SetReceiveFolder(LPTSTR, ULONG flags, ULONG, LPENTRYID) {
  return NoSupport("SetReceiveFolder", flags);
}

STDMETHODIMP StoreObject::GetReceiveFolder(LPTSTR, ULONG flags, ULONG* size, LPENTRYID* id, LPTSTR* explicitClass) {
  if (size) *size = 0;
  if (id) *id = nullptr;
  if (explicitClass) *explicitClass = nullptr;
  return NoSupport("GetReceiveFolder", flags);
}

STDMETHODIMP StoreObject::GetReceiveFolderTable(ULONG flags, LPMAPITABLE* table) {
  if (table) *table = nullptr;
  return NoSupport("GetReceiveFolderTable", flags);
}

STDMETHODIMP StoreObject::StoreLogoff(ULONG* flags) {
  return Guard(kName, "StoreLogoff", flags ? *flags : 0, [&]() -> HRESULT {
    if (!flags) return MAPI_E_INVALID_PARAMETER;
    *flags = LOGOFF_COMPLETE;
    return S_OK;
  });
}

STDMETHODIMP StoreObject::AbortSubmit(ULONG, LPENTRYID, ULONG flags) { return NoSupport("AbortSubmit", flags); }

STDMETHODIMP StoreObject::GetOutgoingQueue(ULONG flags, LPMAPITABLE* table) {
  if (table) *table = nullptr;
  return NoSupport("GetOutgoingQueue", flags);
}

STDMETHODIMP StoreObject::SetLockState(LPMESSAGE, ULONG) { return NoSupport("SetLockState", 0); }
STDMETHODIMP StoreObject::FinishedMsg(ULONG flags, ULONG, LPENTRYID) { return NoSupport("FinishedMsg", flags); }
STDMETHODIMP StoreObject::NotifyNewMail(LPNOTIFICATION) { return NoSupport("NotifyNewMail", 0); }

}  // namespace provider
