// The message index of a folder (index.kvi) and where its message files live.
//
// The index lists every message of the folder with the properties its
// contents table row shows, so that a table never opens a message file:
//   KVIDX 2 <contents> <associated> <bytes covered>      fixed-width header
//   <id> TAB A|C TAB <file name> TAB <tag>:<value> ...   one line per message
// A save appends its line and then rewrites the header in place, both under
// index.lock. The header's byte count says whether its counts describe the
// whole file. When they do not (an append under way, or a writer that died
// half-way), readers count the complete lines themselves and ignore a torn
// last line, and the next writer cuts that line off and repairs the header.
// So a message appears at once, with its whole line, or not at all.
#pragma once

#include <string>
#include <vector>

#include "store_layout.h"

namespace provider {

// One message: its id, whether it is folder-associated, its file under
// messages\ and the properties its contents table row shows.
struct IndexEntry {
  ObjectId id{};
  bool associated = false;
  std::wstring fileName;
  std::vector<Value> properties;
};

struct IndexCounts {
  ULONG contents = 0;
  ULONG associated = 0;
};

std::wstring IndexPath(const std::wstring& folderDirectory);
std::wstring IndexLockPath(const std::wstring& folderDirectory);
// messages\ of a folder, and the name of a message's file in it.
std::wstring MessagesDirectory(const std::wstring& folderDirectory);
std::wstring MessageFileName(const ObjectId& id);

// Every message of the index; a torn last line is left out.
StoreResult ReadFolderIndex(const std::wstring& folderDirectory, std::vector<IndexEntry>& out);
// The counts, from the header alone when it covers the whole file.
StoreResult ReadIndexCounts(const std::wstring& folderDirectory, IndexCounts& out);
// Adds one message under the folder's index lock without rewriting the rest.
StoreResult AppendFolderIndex(const std::wstring& folderDirectory, const IndexEntry& entry);
// Takes the folder's index lock, reads the index, lets change edit it and
// replaces the file in one step. Another process's update is never lost.
template <typename Change>
StoreResult UpdateFolderIndex(const std::wstring& folderDirectory, Change change);
StoreResult WriteFolderIndexLocked(const std::wstring& folderDirectory, const std::vector<IndexEntry>& entries);

std::string SerializeIndex(const std::vector<IndexEntry>& entries);
StoreResult ParseIndex(const std::string& bytes, std::vector<IndexEntry>& out);

}  // namespace provider

#include "files.h"

namespace provider {
template <typename Change>
StoreResult UpdateFolderIndex(const std::wstring& folderDirectory, Change change) {
  FileLock lock(IndexLockPath(folderDirectory), 30000);
  if (!lock.held()) return StoreResult::IoError;
  std::vector<IndexEntry> entries;
  StoreResult result = ReadFolderIndex(folderDirectory, entries);
  if (result != StoreResult::Ok) return result;
  change(entries);
  return WriteFolderIndexLocked(folderDirectory, entries);
}
}  // namespace provider
