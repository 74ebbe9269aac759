// The message files of a folder (message_paths.h): the saved ones and those
// being composed, which their composers keep open without sharing until they
// are saved or dropped. And what the folder's index keeps of a message, made
// from its values or read back from its file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <msgfile/message_property.h>

#include "folder_index.h"
#include "message_paths.h"
#include "object_id.h"
#include "store_result.h"
#include "value.h"

namespace provider {

struct MessageFileListing {
  struct Saved {
    ObjectId id{};
    uint64_t written = 0;  // last write time, as a FILETIME number
    bool unbucketed = false;      // in messages\ itself, where stores before the buckets put it
    bool twoDigitBucket = false;  // in a two-digit bucket, where stores before put it
  };
  std::vector<Saved> saved;              // sorted by id
  std::vector<std::wstring> composing;   // full paths
};
// The files in messages\, its buckets (of three digits, and of two as stores
// before wrote them) and composing\ whose names are message ids; anything
// else there is left alone. A folder without messages\ has none.
StoreResult ListMessageFiles(const std::wstring& folderDirectory, MessageFileListing& out);
// The same without looking into the buckets: how many there are, the saved
// files in messages\ itself (a store written before the buckets) and the
// files in composing\ (full paths in composing).
struct MessageDirectoryTops {
  size_t buckets = 0;
  size_t unbucketed = 0;
  std::vector<std::wstring> composing;
};
StoreResult ListMessageDirectoryTops(const std::wstring& folderDirectory, MessageDirectoryTops& out);
// Whether an id is among the saved files of a listing.
bool HasSavedFile(const MessageFileListing& listing, const ObjectId& id);
// Makes a message's bucket (and messages\ when the folder has none yet).
bool MakeMessageBucket(const std::wstring& folderDirectory, const ObjectId& id);
// The file of a listed message.
std::wstring SavedFilePath(const std::wstring& folderDirectory, const MessageFileListing::Saved& saved);
// Moves the listing's unbucketed files into their buckets (a store written
// before the buckets, upgraded). The caller holds the index lock. Answers
// how many were moved; false when one could not be.
bool MoveIntoBuckets(const std::wstring& folderDirectory, MessageFileListing& listing, uint64_t& moved);

// Deletes a composing file that no process holds open: its composer opened it
// without sharing, so opening it for deletion without sharing succeeds only
// once nobody has it. True when the file was stale and is gone.
bool RemoveIfStale(const std::wstring& path);

// What the index keeps of a message for its contents table row: some of its
// values (strings cut to 255 characters, as Exchange's tables do), the size
// of its file, whether it has attachments, and its flags.
IndexEntry MakeIndexEntry(const ObjectId& id, bool associated, const std::vector<Value>& values, uint64_t fileSize,
                          bool hasAttachments, ULONG messageFlags);
// A value as a message file holds it: narrow strings are written as Unicode
// (a message file holds one form).
msgfile::Property FilePropertyFromValue(const Value& value);

// The same read from a saved message file, for a message the index lacks.
// Corrupt when the file is not a message file.
StoreResult ReadIndexEntry(const std::wstring& path, const ObjectId& id, IndexEntry& out);

}  // namespace provider
