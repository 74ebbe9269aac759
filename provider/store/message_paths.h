// Where a folder's messages live: messages\<xyz>\<id>.msg for each saved
// message, where xyz are the id's first three hex digits, and
// composing\<name>.tmp for one being composed. Under Wine, making a file
// costs time in proportion to the size of its directory (a new name is
// compared with every name there, whatever its case), so a posting takes its
// id when it is placed, with the folder's current bucket in its first digits:
// the folder's n-th message goes into bucket (n / 128) mod 4096. Buckets fill
// one after the other and hold 128 files each up to half a million messages;
// a new folder makes one directory per 128 postings. Stores written before
// keep their files in two-digit buckets (ids at random, so every bucket
// grows) or in messages\ itself; both are still read there, and repairing the
// folder moves the latter into buckets. The names are made from the id
// alone, never taken from the index.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "object_id.h"

namespace provider {

inline std::wstring MessagesDirectory(const std::wstring& folderDirectory) { return folderDirectory + L"\\messages"; }

constexpr uint64_t kMessagesPerBucket = 128;
constexpr uint32_t kBuckets = 4096;  // three hex digits

// A new id for a folder's messageNumber-th message (counted from 0): its
// bucket in the first three digits, the rest at random.
inline ObjectId NewMessageId(uint64_t messageNumber) {
  ObjectId id = NewObjectId();
  const uint32_t bucket = static_cast<uint32_t>((messageNumber / kMessagesPerBucket) % kBuckets);
  id[0] = static_cast<uint8_t>(bucket >> 4);
  id[1] = static_cast<uint8_t>((id[1] & 0x0F) | ((bucket & 0x0F) << 4));
  return id;
}

inline std::wstring IdDigits(const ObjectId& id, size_t count) {
  const std::string hex = ObjectIdText(id);
  return std::wstring(hex.begin(), hex.begin() + static_cast<std::ptrdiff_t>(count));
}

inline std::wstring MessageBucketName(const ObjectId& id) { return IdDigits(id, 3); }

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

// Where a store written with two-digit buckets keeps a saved message.
inline std::wstring TwoDigitBucketMessagePath(const std::wstring& folderDirectory, const ObjectId& id) {
  return MessagesDirectory(folderDirectory) + L"\\" + IdDigits(id, 2) + L"\\" + MessageFileName(id);
}

// Where a store written before the buckets keeps a saved message.
inline std::wstring UnbucketedMessagePath(const std::wstring& folderDirectory, const ObjectId& id) {
  return MessagesDirectory(folderDirectory) + L"\\" + MessageFileName(id);
}

// The saved message's file where it is: in its bucket, else where an
// earlier store put it.
inline std::wstring ExistingMessagePath(const std::wstring& folderDirectory, const ObjectId& id) {
  std::wstring path = MessagePath(folderDirectory, id);
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
  for (const std::wstring& earlier : {TwoDigitBucketMessagePath(folderDirectory, id), UnbucketedMessagePath(folderDirectory, id)})
    if (GetFileAttributesW(earlier.c_str()) != INVALID_FILE_ATTRIBUTES) return earlier;
  return path;
}

}  // namespace provider
