#include "ui/folder_tree.h"

#include <mapitags.h>

#include <algorithm>
#include <cwchar>

#include "mapi/display_name.h"
#include "mapi/folder_resolution.h"
#include "mapi/interface_ids.h"
#include "mapi/mapi_binding.h"

namespace {

// Every table the tree reads gets these columns, each index beside its tag
// (the content count is asked for and not used): the wide display name, and
// the narrow one for stores that do not serve the wide one.
enum TreeColumn : ULONG {
  kTreeEntryId,
  kTreeDisplayName,
  kTreeSubfolders,
  kTreeContentCount,
  kTreeNarrowDisplayName,
  kTreeColumnCount
};
SizedSPropTagArray(kTreeColumnCount, g_treeColumns) = {
    kTreeColumnCount, {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_SUBFOLDERS, PR_CONTENT_COUNT, PR_DISPLAY_NAME_A}};

const SPropTagArray* TreeColumns() noexcept { return reinterpret_cast<const SPropTagArray*>(&g_treeColumns); }

bool NameLess(const CNODE* a, const CNODE* b) noexcept { return lstrcmpiW(a->GetName(), b->GetName()) < 0; }

// The children of one branch while it is read: a growing array of nodes,
// deleted with the array unless they were handed on.
class PendingChildren {
 public:
  PendingChildren() noexcept = default;
  ~PendingChildren() {
    for (size_t i = 0; i < count_; ++i) delete nodes_.get()[i];
  }
  PendingChildren(const PendingChildren&) = delete;
  PendingChildren& operator=(const PendingChildren&) = delete;

  // Takes node; false (node deleted) when memory runs out.
  bool Add(CNODE* node) noexcept {
    if (count_ == capacity_) {
      const size_t capacity = capacity_ ? capacity_ * 2 : 64;
      auto* grown = static_cast<CNODE**>(ModuleRealloc(nodes_.get(), capacity * sizeof(CNODE*)));
      if (!grown) {
        delete node;
        return false;
      }
      nodes_.release();
      nodes_.reset(grown);
      capacity_ = capacity;
    }
    nodes_.get()[count_++] = node;
    return true;
  }
  CNODE** begin() noexcept { return nodes_.get(); }
  CNODE** end() noexcept { return nodes_.get() + count_; }
  size_t size() const noexcept { return count_; }
  // The nodes now belong to someone else.
  void HandedOn() noexcept { count_ = 0; }

 private:
  ModuleBlock<CNODE*> nodes_;
  size_t count_ = 0;
  size_t capacity_ = 0;
};

// A row's entry id, or null when the row has none worth keeping.
const SBinary* EntryIdOf(const SRow& row) noexcept {
  if (row.cValues <= kTreeEntryId || PROP_TYPE(row.lpProps[kTreeEntryId].ulPropTag) != PT_BINARY) return nullptr;
  const SBinary& entryId = row.lpProps[kTreeEntryId].Value.bin;
  return entryId.cb != 0 && entryId.lpb ? &entryId : nullptr;
}

}  // namespace

CNODE::~CNODE() {
  // Along the sibling chain, not down it: a branch of thousands of siblings
  // needs no deep recursion.
  CNODE* child = firstChild;
  while (child) {
    CNODE* next = child->nextSibling;
    delete child;
    child = next;
  }
}

void CNODE::AddChild(CNODE* child) noexcept {
  child->parent = this;
  child->nextSibling = nullptr;
  if (!firstChild) {
    firstChild = lastChild_ = child;
    return;
  }
  // Children arriving in order go behind the last one without a walk.
  if (lstrcmpiW(lastChild_->GetName(), child->GetName()) < 0) {
    lastChild_->nextSibling = child;
    lastChild_ = child;
    return;
  }
  if (lstrcmpiW(firstChild->GetName(), child->GetName()) >= 0) {
    child->nextSibling = firstChild;
    firstChild = child;
    return;
  }
  CNODE* before = firstChild;
  while (before->nextSibling && lstrcmpiW(before->nextSibling->GetName(), child->GetName()) < 0) {
    before = before->nextSibling;
  }
  child->nextSibling = before->nextSibling;
  before->nextSibling = child;
  if (!child->nextSibling) lastChild_ = child;
}

void CNODE::AdoptOrderedChildren(CNODE* const* children, size_t count) noexcept {
  CNODE* previous = nullptr;
  for (size_t i = 0; i < count; ++i) {
    CNODE* child = children[i];
    child->parent = this;
    child->nextSibling = nullptr;
    if (previous) {
      previous->nextSibling = child;
    } else {
      firstChild = child;
    }
    previous = child;
  }
  lastChild_ = previous;
}

CContainerData::CContainerData(IMAPISession* sessionIn, const wchar_t* profileName) noexcept : session(sessionIn) {
  displayName.reset(ModuleDupWide(profileName));
  valid = displayName ? TRUE : FALSE;
}

CContainerData::CContainerData(IMAPISession* sessionIn, ULONG entryIdCountIn, const BYTE* entryIdBytes,
                               const wchar_t* name, BOOL hasChildrenFlag) noexcept
    : hasChildren(hasChildrenFlag), session(sessionIn) {
  if (entryIdCountIn != 0 && entryIdBytes) {
    entryId.reset(static_cast<BYTE*>(ModuleAlloc(entryIdCountIn)));
    if (entryId) {
      memcpy(entryId.get(), entryIdBytes, entryIdCountIn);
      entryIdCount = entryIdCountIn;
    }
  }
  displayName.reset(ModuleDupWide(name));
  // A node that cannot be opened again is of no use either.
  valid = displayName && (entryIdCountIn == 0 || entryId) ? TRUE : FALSE;
}

void CContainerData::AttachChild(CContainerData* child) noexcept {
  AddChild(child);
  child->SetPathBelow(*this);
}

void CContainerData::SetPathBelow(const CContainerData& parentNode) noexcept {
  const wchar_t* name = displayName.get();
  pathExpressible = parentNode.pathExpressible && name[0] != L'\0' && !wcschr(name, L'#') ? TRUE : FALSE;
  if (!parentNode.path) {
    path.reset(ModuleDupWide(displayName.get()));
    return;
  }
  const size_t capacity = wcslen(parentNode.path.get()) + wcslen(displayName.get()) + 2;
  path.reset(static_cast<wchar_t*>(ModuleAlloc(capacity * sizeof(wchar_t))));
  if (path) FormatWide(path.get(), capacity, L"%s#%s", parentNode.path.get(), displayName.get());
}

FOLDERDATA::FOLDERDATA(IMAPISession* sessionIn, const wchar_t* profileName) noexcept
    : CContainerData(sessionIn, profileName) {}

FOLDERDATA::FOLDERDATA(IMAPISession* sessionIn, ULONG entryIdCountIn, const BYTE* entryIdBytes, const wchar_t* name,
                       BOOL hasChildrenFlag, BOOL isStoreNode) noexcept
    : CContainerData(sessionIn, entryIdCountIn, entryIdBytes, name, hasChildrenFlag), isStore(isStoreNode) {}

BOOL FOLDERDATA::Expand() noexcept {
  const HCURSOR previous = SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
  if (!expanded) {
    expanded = TRUE;
    if (IsRoot()) {
      LoadStores();
    } else {
      OpenHierarchy();
      LoadChildren();
    }
    hasChildren = firstChild != nullptr;
  }
  SetCursor(previous);
  return TRUE;
}

void FOLDERDATA::LoadStores() noexcept {
  CMAPITable stores;
  if (!stores.OpenMsgStoresTable(session) || !stores.table) return;
  if (!stores.Prepare(TreeColumns(), nullptr, nullptr)) return;
  while (const SRow* row = stores.NextRow()) {
    const SBinary* entryIdValue = EntryIdOf(*row);
    RowDisplayName name;
    if (!entryIdValue || !name.Read(*row, kTreeDisplayName, kTreeNarrowDisplayName)) continue;
    FOLDERDATA* node = new (std::nothrow) FOLDERDATA(session, entryIdValue->cb, entryIdValue->lpb, name.get(), TRUE, TRUE);
    if (!node) continue;
    if (!node->valid) {
      delete node;
      continue;
    }
    // A store that does not open stays in the tree, without children.
    ULONG objectType = 0;
    session->OpenEntry(node->entryIdCount, reinterpret_cast<LPENTRYID>(node->entryId.get()), &kMsgStoreInterface,
                       MAPI_BEST_ACCESS, &objectType, node->ownedStore_.putUnknown());
    node->store = node->ownedStore_.get();
    AttachChild(node);
  }
}

MAPIInterface<IMAPIFolder> FOLDERDATA::OpenContainer() noexcept {
  MAPIInterface<IMAPIFolder> folder;
  if (!store) return folder;
  if (isStore) {
    if (OpenStoreTop(store, folder) < 0) folder.reset();
    return folder;
  }
  ULONG objectType = 0;
  if (store->OpenEntry(entryIdCount, reinterpret_cast<LPENTRYID>(entryId.get()), &kFolderInterface, MAPI_BEST_ACCESS,
                       &objectType, folder.putUnknown()) < 0) {
    folder.reset();
  }
  return folder;
}

void FOLDERDATA::OpenHierarchy() noexcept {
  if (!hasChildren) return;
  MAPIInterface<IMAPIFolder> folder = OpenContainer();
  // The table outlives its folder, which is released here.
  if (folder) hierarchyTable.OpenHierarchyTable(folder.get());
}

void FOLDERDATA::LoadChildren() noexcept {
  if (!hasChildren || !hierarchyTable.table) return;
  if (!hierarchyTable.Prepare(TreeColumns(), nullptr, nullptr)) return;
  PendingChildren children;
  while (const SRow* row = hierarchyTable.NextRow()) {
    const SBinary* entryIdValue = EntryIdOf(*row);
    RowDisplayName name;
    // A folder without a usable name cannot be named in a path: skipped.
    if (!entryIdValue || row->cValues <= kTreeSubfolders || !name.Read(*row, kTreeDisplayName, kTreeNarrowDisplayName)) {
      continue;
    }
    const BOOL subfolders = LOWORD(row->lpProps[kTreeSubfolders].Value.l) != 0 ? TRUE : FALSE;
    FOLDERDATA* node =
        new (std::nothrow) FOLDERDATA(session, entryIdValue->cb, entryIdValue->lpb, name.get(), subfolders, FALSE);
    if (!node) continue;
    if (!node->valid) {
      delete node;
      continue;
    }
    node->store = store;
    children.Add(node);
  }
  // The order the one-by-one sorted insertion gives, in n log n at most:
  // rows that arrive in ascending order are taken as they are; otherwise a
  // stable sort of the reversed arrivals puts equal names newest first.
  CNODE** first = children.begin();
  CNODE** last = children.end();
  const bool ascending =
      std::adjacent_find(first, last, [](const CNODE* a, const CNODE* b) { return !NameLess(a, b); }) == last;
  if (!ascending) {
    std::reverse(first, last);
    std::stable_sort(first, last, NameLess);
  }
  AdoptOrderedChildren(first, children.size());
  children.HandedOn();
  for (CNODE* child = firstChild; child; child = child->nextSibling) {
    static_cast<FOLDERDATA*>(child)->SetPathBelow(*this);
  }
}
