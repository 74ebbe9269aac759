// A message store on disk. The store directory is the directory of the store's
// root folder; every folder directory holds
//   folder.kvf    the folder's identity and display name (UTF-8 key=value)
//   folders\      one directory per subfolder, under a safe name made from its display name
//   subfolders.kvl the subfolders' identities, directory names and display names, one
//                 line each, rewritten whole when a subfolder is created, so that a
//                 folder's children are read from one file (folders made before this
//                 list existed are found by listing folders\)
//   subfolders.kvc whether each subfolder has subfolders, and its message
//                 counts (folder_counts.h)
//   index.kvi     the folder's message index (contents and associated contents)
//   messages\     the message files, in buckets (message_paths.h)
//   index.lock    taken by writers of the index
// and the store directory also holds store.kvs (the store's identity and its
// special folders) and store.lock (taken while folders are created).
#pragma once

#include <map>
#include <unordered_map>
#include <memory>
#include <string>
#include <vector>

#include "message_store.h"
#include "object_id.h"
#include "store_result.h"

namespace provider {

struct FolderRecord {
  ObjectId id{};
  ObjectId parentId{};  // all zero for the root
  FolderKind kind = FolderKind::Generic;
  std::wstring name;
  std::wstring comment;
  std::wstring directory;  // full path
};

// Display name of a folder as a safe directory name: no path separators,
// drive letters, device names, leading dots or trailing dots and spaces; "%"
// escapes everything else that is unsafe. Names that differ only in case get
// distinct directories when they are created (a "~N" suffix).
std::wstring SafeDirectoryName(const std::wstring& displayName);

class StoreLayout {
 public:
  // Opens the store in a directory, creating the directory and an empty store
  // (root, top of information store, common views) when there is none yet.
  // Only the admin tool creates stores.
  static StoreResult OpenOrCreate(const std::wstring& directory, std::unique_ptr<StoreLayout>& out);
  // Opens an existing store only, writing nothing: NotFound when the
  // directory is missing or holds no store, Corrupt when its store file is
  // damaged.
  static StoreResult Open(const std::wstring& directory, std::unique_ptr<StoreLayout>& out);

  const ObjectId& storeId() const { return storeId_; }
  const ObjectId& rootId() const { return rootId_; }
  const ObjectId& ipmSubtreeId() const { return ipmSubtreeId_; }
  const ObjectId& commonViewsId() const { return commonViewsId_; }
  const std::wstring& directory() const { return directory_; }

  StoreResult Find(const ObjectId& id, FolderRecord& out);
  StoreResult Children(const FolderRecord& parent, std::vector<FolderRecord>& out);
  // Creates a subfolder. An existing subfolder of exactly this name is a
  // Collision, or is returned when openIfExists.
  StoreResult CreateFolder(const FolderRecord& parent, const std::wstring& name, const std::wstring& comment,
                           bool openIfExists, FolderRecord& out);
  // Creates many subfolders of one parent, writing its subfolder list once
  // (a folder of thousands of subfolders is made in seconds, not hours). A
  // name that exists already, or twice among names, is a Collision and
  // nothing is made.
  StoreResult CreateFolders(const FolderRecord& parent, const std::vector<std::wstring>& names,
                            std::vector<FolderRecord>& out);
  // Writes a folder's record in its parent's subfolders.kvc anew from the
  // folder itself (its subfolder list and index), adding it when the folder
  // has none (a store written before these records). Takes store.lock and
  // the folder's index.lock.
  StoreResult RefreshCounts(const FolderRecord& folder);
  // The folder at a "#"-joined path of display names below the top of
  // information store ("" is that folder itself).
  StoreResult FindByPath(const std::wstring& path, FolderRecord& out);

 private:
  StoreResult Load();
  StoreResult CreateLocked();
  StoreResult ReadFolder(const std::wstring& directory, FolderRecord& out);
  // The children of parent from its subfolder list: Ok, NotFound when it has
  // no list, Corrupt or IoError. The list is kept among the recent ones.
  StoreResult ReadSubfolderList(const FolderRecord& parent, std::vector<FolderRecord>& out);
  // A folder named in a recently read subfolder list, checked against its
  // file: Ok, NotFound (not named there, or gone), Corrupt.
  StoreResult FindInRecentLists(const ObjectId& id, FolderRecord& out);
  StoreResult Scan();
  StoreResult CreateFolderLocked(const FolderRecord& parent, const std::wstring& name, const std::wstring& comment,
                                 bool openIfExists, FolderRecord& out);

  std::wstring directory_;
  ObjectId storeId_{}, rootId_{}, ipmSubtreeId_{}, commonViewsId_{};
  std::unordered_map<ObjectId, std::wstring, ObjectIdHash> knownDirectories_;
  // The subfolder lists read last, as read: a folder of thousands of
  // subfolders is listed without remembering where each of them lives, and
  // the one opened next is found here.
  struct RecentList {
    ObjectId parentId;
    std::wstring parentDirectory;
    std::string bytes;
  };
  std::vector<RecentList> recentLists_;
};

}  // namespace provider
