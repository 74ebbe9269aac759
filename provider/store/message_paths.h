// Where a folder's messages live: messages\<xy>\<id>.msg for each saved
// message, where xy are the id's first two hex digits, and composing\<id>.tmp
// for one being composed. Under Wine, making a file costs time in proportion
// to the size of its directory: spread over 256 buckets, and composed in a
// directory that holds only the messages under way, a posting into a folder
// of 100,000 messages makes one name among about 400. (More buckets cost a
// new folder's first postings a directory each and a repair a listing each.) Stores written before the buckets keep
// their files in messages\ itself; they are still read there, and repairing
// the folder moves them into their buckets. The names are made from the id
// alone, never taken from the index.
#pragma once

#include <windows.h>

#include <string>

#include "object_id.h"

namespace provider {

inline std::wstring MessagesDirectory(const std::wstring& folderDirectory) { return folderDirectory + L"\\messages"; }

inline std::wstring MessageBucketName(const ObjectId& id) {
  const std::string hex = ObjectIdText(id);
  return std::wstring(hex.begin(), hex.begin() + 2);
}

inline std::wstring MessageBucket(const std::wstring& folderDirectory, const ObjectId& id) {
  return MessagesDirectory(folderDirectory) + L"\\" + MessageBucketName(id);
}

inline std::wstring MessageFileName(const ObjectId& id) {
  const std::string hex = ObjectIdText(id);
  return std::wstring(hex.begin(), hex.end()) + L".msg";
}

inline std::wstring MessagePath(const std::wstring& folderDirectory, const ObjectId& id) {
  return MessageBucket(folderDirectory, id) + L"\\" + MessageFileName(id);
}

inline std::wstring ComposingDirectory(const std::wstring& folderDirectory) {
  return folderDirectory + L"\\composing";
}

inline std::wstring ComposingPath(const std::wstring& folderDirectory, const ObjectId& id) {
  const std::string hex = ObjectIdText(id);
  return ComposingDirectory(folderDirectory) + L"\\" + std::wstring(hex.begin(), hex.end()) + L".tmp";
}

// Where a store written before the buckets keeps a saved message.
inline std::wstring UnbucketedMessagePath(const std::wstring& folderDirectory, const ObjectId& id) {
  return MessagesDirectory(folderDirectory) + L"\\" + MessageFileName(id);
}

// The saved message's file where it is: in its bucket, else where a store
// written before the buckets put it.
inline std::wstring ExistingMessagePath(const std::wstring& folderDirectory, const ObjectId& id) {
  std::wstring path = MessagePath(folderDirectory, id);
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
  std::wstring unbucketed = UnbucketedMessagePath(folderDirectory, id);
  return GetFileAttributesW(unbucketed.c_str()) != INVALID_FILE_ATTRIBUTES ? unbucketed : path;
}

}  // namespace provider
