#include "folder.h"

#include <mapitags.h>

#include <algorithm>

#include "contents_table.h"
#include "message.h"
#include "msg_store.h"
#include "table.h"

namespace provider {
namespace {

constexpr const char* kName = "IMAPIFolder";
constexpr ULONG kShowSoftDeletes = 0x00000002;  // SHOW_SOFT_DELETES, missing from the MinGW headers

// The folder a hierarchy row stands for, kept to fill in its deferred values.
struct RowFolder {
  StoreFolder folder;
  ULONG depth;
};

// Rows of entry id and name only (see DeferredColumns).
void AddHierarchyRows(StoreState& store, const StoreFolder& parent, ULONG depth, bool recursive,
                      std::vector<TableRow>& rows, std::vector<RowFolder>& folders) {
  std::vector<StoreFolder> children;
  StoreResult result = store.store->Children(parent, children);
  if (result != StoreResult::Ok) throw result;
  rows.reserve(rows.size() + children.size());
  folders.reserve(folders.size() + children.size());
  for (StoreFolder& child : children) {
    rows.push_back(FolderNameValues(store, child));
    if (!recursive) {
      folders.push_back(RowFolder{std::move(child), depth});
      continue;
    }
    folders.push_back(RowFolder{child, depth});
    AddHierarchyRows(store, child, depth + 1, true, rows, folders);
  }
}

const std::vector<ULONG>& HierarchyColumns() {
  static const std::vector<ULONG> columns = {
      PR_ENTRYID,  PR_INSTANCE_KEY,    PR_RECORD_KEY,   PR_DISPLAY_NAME_W, PR_COMMENT_W,
      PR_SUBFOLDERS, PR_CONTENT_COUNT, PR_ASSOC_CONTENT_COUNT, PR_CONTENT_UNREAD, PR_FOLDER_TYPE,
      PR_OBJECT_TYPE, PR_DEPTH,        PR_PARENT_ENTRYID, PR_STORE_ENTRYID, PR_STORE_RECORD_KEY};
  return columns;
}

}  // namespace

HRESULT RepairForWriting(StoreState& store, const StoreFolder& folder) {
  std::lock_guard<std::mutex> guard(store.lock);
  return StoreResultToHresult(store.store->PrepareForWriting(folder));
}

FolderObject::FolderObject(std::shared_ptr<StoreState> store, StoreFolder folder, bool writable, bool storeWritable,
                           bool repaired)
    : PropObject(kName), store_(std::move(store)), folder_(std::move(folder)), writable_(writable),
      storeWritable_(storeWritable), repaired_(repaired) {}

bool FolderObject::Supports(REFIID iid) const {
  return IsEqualIID(iid, IID_IMAPIFolder) || IsEqualIID(iid, IID_IMAPIContainer) || IsEqualIID(iid, IID_IMAPIProp);
}

HRESULT FolderObject::CollectProps(std::vector<Value>& out) {
  std::lock_guard<std::mutex> guard(store_->lock);
  StoreFolder current;
  // Reread the folder: another process may have added subfolders or messages.
  StoreResult result = store_->store->Find(folder_.id, current);
  if (result != StoreResult::Ok) return StoreResultToHresult(result);
  ULONG depth = 0;
  out = FolderValues(*store_, current, depth);
  out.erase(std::remove_if(out.begin(), out.end(), [](const Value& v) { return v.tag == PR_DEPTH; }), out.end());
  ULONG access = MAPI_ACCESS_READ | (writable_ ? MAPI_ACCESS_MODIFY | MAPI_ACCESS_CREATE_HIERARCHY | MAPI_ACCESS_CREATE_CONTENTS : 0);
  out.push_back(Value::Long(PR_ACCESS, access));
  out.push_back(Value::Long(PR_ACCESS_LEVEL, writable_ ? MAPI_MODIFY : 0));
  return S_OK;
}

STDMETHODIMP FolderObject::GetContentsTable(ULONG flags, LPMAPITABLE* table) {
  if (table) *table = nullptr;
  return Guard(kName, "GetContentsTable", flags, [&]() -> HRESULT {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~(MAPI_ASSOCIATED | MAPI_UNICODE | MAPI_DEFERRED_ERRORS | kShowSoftDeletes)) return MAPI_E_UNKNOWN_FLAGS;
    if (flags & kShowSoftDeletes) return MAPI_E_NO_SUPPORT;
    return OpenContentsTable(store_, folder_, flags, table);
  });
}

STDMETHODIMP FolderObject::GetHierarchyTable(ULONG flags, LPMAPITABLE* table) {
  if (table) *table = nullptr;
  return Guard(kName, "GetHierarchyTable", flags, [&]() -> HRESULT {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~(CONVENIENT_DEPTH | MAPI_UNICODE | MAPI_DEFERRED_ERRORS | kShowSoftDeletes)) return MAPI_E_UNKNOWN_FLAGS;
    if (flags & kShowSoftDeletes) return MAPI_E_NO_SUPPORT;
    std::vector<TableRow> rows;
    std::vector<RowFolder> folders;
    {
      std::lock_guard<std::mutex> guard(store_->lock);
      try {
        AddHierarchyRows(*store_, folder_, 1, (flags & CONVENIENT_DEPTH) != 0, rows, folders);
      } catch (StoreResult result) {
        return StoreResultToHresult(result);
      }
    }
    // Subfolder flags and counts read each row's folder, and thousands of
    // rows make the details slow too: both only when asked for.
    auto shared = std::make_shared<std::vector<RowFolder>>(std::move(folders));
    std::vector<DeferredColumns> deferred(2);
    deferred[0].tags = kFolderDetailTags;
    deferred[0].fill = [store = store_, shared](size_t row, TableRow& values) {
      std::vector<Value> details = FolderDetailValues(*store, (*shared)[row].folder, (*shared)[row].depth);
      values.insert(values.end(), details.begin(), details.end());
    };
    deferred[1].tags = kFolderCountTags;
    deferred[1].fill = [store = store_, shared](size_t row, TableRow& values) {
      const StoreFolder& folder = (*shared)[row].folder;
      if (folder.countsKnown) {  // learnt with the listing itself
        values.push_back(Value::Bool(PR_SUBFOLDERS, folder.counts.hasSubfolders));
        values.push_back(Value::Long(PR_CONTENT_COUNT, folder.counts.contents));
        values.push_back(Value::Long(PR_ASSOC_CONTENT_COUNT, folder.counts.associated));
        values.push_back(Value::Long(PR_CONTENT_UNREAD, folder.counts.unread));
        return;
      }
      std::lock_guard<std::mutex> guard(store->lock);
      std::vector<Value> counts = FolderCountValues(*store, folder);
      values.insert(values.end(), counts.begin(), counts.end());
    };
    *table = new TableObject(std::move(rows), HierarchyColumns(), HierarchyColumns(), (flags & MAPI_UNICODE) != 0,
                             std::move(deferred));
    return S_OK;
  });
}

STDMETHODIMP FolderObject::OpenEntry(ULONG size, LPENTRYID id, LPCIID iface, ULONG flags, ULONG* type, LPUNKNOWN* object) {
  if (type) *type = 0;
  if (object) *object = nullptr;
  return Guard(kName, "OpenEntry", flags, [&]() -> HRESULT {
    if (size == 0) return OpenFolder(store_, storeWritable_, folder_.id, iface, flags, type, object);
    return OpenStoreEntry(store_, storeWritable_, size, id, iface, flags, type, object);
  });
}

STDMETHODIMP FolderObject::SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG flags) {
  return NoSupport("SetSearchCriteria", flags);
}

STDMETHODIMP FolderObject::GetSearchCriteria(ULONG flags, LPSRestriction* restriction, LPENTRYLIST* containers,
                                             ULONG* state) {
  if (restriction) *restriction = nullptr;
  if (containers) *containers = nullptr;
  if (state) *state = 0;
  return NoSupport("GetSearchCriteria", flags);
}

STDMETHODIMP FolderObject::CreateMessage(LPCIID iface, ULONG flags, LPMESSAGE* message) {
  if (message) *message = nullptr;
  return Guard(kName, "CreateMessage", flags, [&]() -> HRESULT {
    if (!message) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~(MAPI_ASSOCIATED | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
    if (iface && !IsEqualIID(*iface, IID_IMessage) && !IsEqualIID(*iface, IID_IMAPIProp) &&
        !IsEqualIID(*iface, IID_IUnknown))
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (!writable_) return MAPI_E_NO_ACCESS;
    // A folder opened without MAPI_MODIFY is put right before its first posting.
    if (!repaired_) {
      HRESULT repaired = RepairForWriting(*store_, folder_);
      if (FAILED(repaired)) return repaired;
      repaired_ = true;
    }
    std::shared_ptr<MessageState> state;
    HRESULT hr = MessageState::Create(store_, folder_, (flags & MAPI_ASSOCIATED) != 0, state);
    if (FAILED(hr)) return hr;
    *message = new MessageObject(std::move(state));
    return S_OK;
  });
}

STDMETHODIMP FolderObject::CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG, LPMAPIPROGRESS, ULONG flags) {
  return NoSupport("CopyMessages", flags);
}

STDMETHODIMP FolderObject::DeleteMessages(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG flags) {
  return NoSupport("DeleteMessages", flags);
}

STDMETHODIMP FolderObject::CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID iface, ULONG flags,
                                        LPMAPIFOLDER* folder) {
  if (folder) *folder = nullptr;
  return Guard(kName, "CreateFolder", flags, [&]() -> HRESULT {
    if (!folder || !name) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~(MAPI_UNICODE | OPEN_IF_EXISTS | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
    if (type != FOLDER_GENERIC) return type == FOLDER_SEARCH ? MAPI_E_NO_SUPPORT : MAPI_E_INVALID_PARAMETER;
    if (iface && !IsEqualIID(*iface, IID_IMAPIFolder) && !IsEqualIID(*iface, IID_IMAPIContainer) &&
        !IsEqualIID(*iface, IID_IMAPIProp) && !IsEqualIID(*iface, IID_IUnknown))
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (!writable_) return MAPI_E_NO_ACCESS;
    bool unicode = (flags & MAPI_UNICODE) != 0;
    std::wstring folderName = TextArgument(name, unicode);
    std::wstring folderComment = TextArgument(comment, unicode);
    if (folderName.empty()) return MAPI_E_INVALID_PARAMETER;
    StoreFolder created;
    bool writable = false;
    {
      std::lock_guard<std::mutex> guard(store_->lock);
      StoreResult result = store_->store->CreateFolder(folder_, folderName, folderComment,
                                                       (flags & OPEN_IF_EXISTS) != 0, created);
      if (result != StoreResult::Ok) return StoreResultToHresult(result);
      writable = store_->FolderWritable(created);
    }
    *folder = new FolderObject(store_, std::move(created), writable, storeWritable_, true);
    return S_OK;
  });
}

STDMETHODIMP FolderObject::CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS, ULONG flags) {
  return NoSupport("CopyFolder", flags);
}

STDMETHODIMP FolderObject::DeleteFolder(ULONG, LPENTRYID, ULONG, LPMAPIPROGRESS, ULONG flags) {
  return NoSupport("DeleteFolder", flags);
}

STDMETHODIMP FolderObject::SetReadFlags(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG flags) {
  return NoSupport("SetReadFlags", flags);
}

STDMETHODIMP FolderObject::GetMessageStatus(ULONG, LPENTRYID, ULONG flags, ULONG* status) {
  if (status) *status = 0;
  return NoSupport("GetMessageStatus", flags);
}

STDMETHODIMP FolderObject::SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG* oldStatus) {
  if (oldStatus) *oldStatus = 0;
  return NoSupport("SetMessageStatus", 0);
}

STDMETHODIMP FolderObject::SaveContentsSort(LPSSortOrderSet, ULONG flags) { return NoSupport("SaveContentsSort", flags); }

STDMETHODIMP FolderObject::EmptyFolder(ULONG, LPMAPIPROGRESS, ULONG flags) { return NoSupport("EmptyFolder", flags); }

}  // namespace provider
