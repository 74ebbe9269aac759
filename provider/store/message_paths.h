// Where a folder's messages live: messages\<id>.msg for each saved message
// and messages\<id>.tmp for one being composed. The names are made from the
// id alone, never taken from the index.
#pragma once

#include <string>

#include "object_id.h"

namespace provider {

inline std::wstring MessagesDirectory(const std::wstring& folderDirectory) { return folderDirectory + L"\\messages"; }

inline std::wstring MessageFileName(const ObjectId& id) {
  const std::string hex = ObjectIdText(id);
  return std::wstring(hex.begin(), hex.end()) + L".msg";
}

inline std::wstring MessagePath(const std::wstring& folderDirectory, const ObjectId& id) {
  return MessagesDirectory(folderDirectory) + L"\\" + MessageFileName(id);
}

inline std::wstring ComposingPath(const std::wstring& folderDirectory, const ObjectId& id) {
  const std::string hex = ObjectIdText(id);
  return MessagesDirectory(folderDirectory) + L"\\" + std::wstring(hex.begin(), hex.end()) + L".tmp";
}

}  // namespace provider
