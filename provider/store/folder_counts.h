// What a hierarchy row shows of a folder without opening the folder: whether
// it has subfolders and its message counts. They are kept beside the
// parent's subfolder list, in the parent's subfolders.kvc, one fixed-width
// record per subfolder:
//   <id, 32 hex digits> SP <subfolders 0|1> SP <contents, 10 digits> SP <associated, 10 digits> CR LF
// so that listing thousands of subfolders reads two files, not two per
// subfolder. A record is appended when its folder is created, under
// store.lock, and after that only changed in place: the subfolder flag under
// store.lock (folder creation), the counts under the folder's index.lock (a
// posting, a repair). Writers of one field therefore never meet, and a
// reader sees each field before or after a change. A folder without a
// record (a store written before these files) has its values read from the
// folder itself; kvmapi-admin repair adds the record.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "folder_index.h"
#include "object_id.h"
#include "store_result.h"

namespace provider {

struct FolderCountsRecord {
  bool hasSubfolders = false;
  IndexCounts counts;
};
using SubfolderCounts = std::unordered_map<ObjectId, FolderCountsRecord, ObjectIdHash>;

constexpr uint64_t kNoCountsRecord = ~uint64_t(0);

std::wstring SubfolderCountsPath(const std::wstring& parentDirectory);
// The directory of the folder a folder directory lies in (<parent>\folders\<name>),
// empty for a store's root.
std::wstring ParentFolderDirectory(const std::wstring& folderDirectory);

// A folder's id from its folder file (folder.kvf).
bool ReadFolderId(const std::wstring& folderDirectory, ObjectId& id);

// Every complete record of a parent's file; a missing file has none.
StoreResult ReadSubfolderCounts(const std::wstring& parentDirectory, SubfolderCounts& out);
// Adds a record, or replaces the one the folder has. The caller holds
// store.lock and the folder's index.lock.
bool PutCountsRecord(const std::wstring& parentDirectory, const ObjectId& id, const FolderCountsRecord& record);
// Appends zero records for folders just created. The caller holds store.lock.
bool AppendCountsRecords(const std::wstring& parentDirectory, const std::vector<ObjectId>& ids);
// Sets the subfolder flag of a folder that has a record. The caller holds
// store.lock.
bool MarkHasSubfolders(const std::wstring& parentDirectory, const ObjectId& id);
// Writes a folder's counts into its record, if it has one. The caller holds
// the folder's index.lock. offset: where the record was last found
// (kNoCountsRecord when not known); updated.
bool WriteFolderCounts(const std::wstring& folderDirectory, const ObjectId& id, const IndexCounts& counts,
                       uint64_t& offset);

}  // namespace provider
