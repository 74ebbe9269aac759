// The model behind the folder selection dialog's tree: the profile at the
// root, its message stores below it, each store's folders below the store.
// A node knows its display name, its "#"-path and whether it may have
// children, and reads its children from MAPI the first time it is opened,
// never again. Every MAPI object a node opened is released when it is
// destroyed; destroying the root destroys the whole tree.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <mapix.h>

#include <cstddef>
#include <cstdint>
#include <new>

#include "mapi/mapi_owners.h"
#include "mapi/mapi_table.h"
#include "platform/wide_text.h"

// A tree node with a sorted list of children, which it owns.
class CNODE {
 public:
  CNODE() noexcept = default;
  // Deletes the children, first child first along the sibling chain.
  virtual ~CNODE();
  CNODE(const CNODE&) = delete;
  CNODE& operator=(const CNODE&) = delete;

  virtual const wchar_t* GetName() const noexcept = 0;
  // Reads the children the first time; TRUE.
  virtual BOOL Expand() noexcept = 0;
  virtual BOOL HasChildren() const noexcept { return firstChild != nullptr; }
  virtual BOOL IsRoot() const noexcept { return parent == nullptr; }
  // A query no operation of the module asks.
  virtual BOOL IsTreeNode() const noexcept { return TRUE; }
  // Inserts child among the children in order of lstrcmpiW of the names; a
  // child whose name equals a sibling's goes before it.
  virtual void AddChild(CNODE* child) noexcept;

  // Nodes live on the module heap: no memory gives null, never an exception.
  static void* operator new(size_t bytes, const std::nothrow_t&) noexcept { return ModuleAlloc(bytes); }
  static void operator delete(void* block) noexcept { ModuleFree(block); }
  static void operator delete(void* block, const std::nothrow_t&) noexcept { ModuleFree(block); }

  BOOL valid = FALSE;             // FALSE: the node could not keep its name
  CNODE* firstChild = nullptr;    // owned
  CNODE* nextSibling = nullptr;   // owned through the parent's first child
  CNODE* parent = nullptr;        // none for the root
  BOOL expanded = FALSE;          // the children have been read
  HTREEITEM treeItem = nullptr;   // written by the dialog

 protected:
  // Links children that are already in order (lstrcmpiW, equal names in the
  // reverse of their arrival) as this node's only children.
  void AdoptOrderedChildren(CNODE* const* children, size_t count) noexcept;

 private:
  CNODE* lastChild_ = nullptr;  // lets a child that sorts last be appended at once
};

// A node that stands for a MAPI container.
class CContainerData : public CNODE {
 public:
  // The root form: named after the profile, no entry id, no path.
  CContainerData(IMAPISession* session, const wchar_t* profileName) noexcept;
  // A store or folder: copies the entry id and the name; valid when both
  // copies were made.
  CContainerData(IMAPISession* session, ULONG entryIdCount, const BYTE* entryIdBytes, const wchar_t* name,
                 BOOL hasChildrenFlag) noexcept;

  const wchar_t* GetName() const noexcept override { return displayName.get(); }
  BOOL HasChildren() const noexcept override { return hasChildren; }
  // A query no operation of the module asks.
  virtual BOOL IsMAPIContainer() const noexcept = 0;
  virtual void OpenHierarchy() noexcept = 0;
  virtual void LoadChildren() noexcept = 0;

  // AddChild, then the child's path: this path, "#" and the child's name
  // (the root's children: their names). No memory leaves the child without
  // a path.
  void AttachChild(CContainerData* child) noexcept;

  ULONG entryIdCount = 0;
  ModuleBlock<BYTE> entryId;
  ModuleBlock<wchar_t> displayName;
  ModuleBlock<wchar_t> path;  // none for the root
  // Whether path names this node: a name that is empty or holds "#", here or
  // above, would make the path name another folder or none.
  BOOL pathExpressible = TRUE;
  BOOL hasChildren = TRUE;    // for the expand button; after reading: a child was made
  CMAPITable hierarchyTable;  // open from the node's opening until it is destroyed
  IMAPISession* session = nullptr;

 protected:
  void SetPathBelow(const CContainerData& parentNode) noexcept;
};

// The node of every kind: the profile root, a message store, a folder.
class FOLDERDATA : public CContainerData {
 public:
  // The root: the profile.
  FOLDERDATA(IMAPISession* session, const wchar_t* profileName) noexcept;
  // A store (isStoreNode: it will own the store it opens) or a folder.
  FOLDERDATA(IMAPISession* session, ULONG entryIdCount, const BYTE* entryIdBytes, const wchar_t* name,
             BOOL hasChildrenFlag, BOOL isStoreNode) noexcept;

  BOOL Expand() noexcept override;
  BOOL IsMAPIContainer() const noexcept override { return TRUE; }
  void OpenHierarchy() noexcept override;
  void LoadChildren() noexcept override;

  // The root's children: one node per row of the session's store table.
  void LoadStores() noexcept;
  // The folder a store or folder node stands for (a store: its top of
  // information store), or null.
  MAPIInterface<IMAPIFolder> OpenContainer() noexcept;

  // A store node's own store; folders borrow their store node's.
  IMsgStore* store = nullptr;
  BOOL isStore = FALSE;

 private:
  MAPIInterface<IMsgStore> ownedStore_;  // released before the rest of the node
};
