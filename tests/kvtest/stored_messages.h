// What a posting left in a store of our provider, read from the disk as the
// store keeps it: the folder's index (what the folder lists, in the order
// the messages were saved) and each message's .msg file. For the tests of
// the module and of the host, which post from outside the provider.
#pragma once

#include <windows.h>

#include <mapitags.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <msgfile/message_reader.h>

#include "folder_index.h"
#include "kvtest/environment.h"
#include "message_paths.h"
#include "store_layout.h"

namespace kvtest {

// A message's values and those of its first attachment, by tag.
struct StoredMessage {
  bool associated = false;
  std::map<ULONG, msgfile::Property> values, attachment;

  std::wstring Text(ULONG tag, bool ofAttachment = false) const {
    const msgfile::Property* value = Find(tag, ofAttachment);
    return value ? msgfile::UnicodeValue(*value) : L"<none>";
  }
  // A fixed-size value (a number, a flag set, a time) as its 64 bits; -1 when absent.
  LONGLONG Number(ULONG tag, bool ofAttachment = false) const {
    const msgfile::Property* value = Find(tag, ofAttachment);
    return value ? static_cast<LONGLONG>(value->fixed) : -1;
  }
  Bytes Binary(ULONG tag, bool ofAttachment = false) const {
    const msgfile::Property* value = Find(tag, ofAttachment);
    return value ? Bytes(value->bytes.begin(), value->bytes.end()) : Bytes();
  }
  std::wstring subject() const { return Text(PR_SUBJECT_W); }
  Bytes data() const { return Binary(PR_ATTACH_DATA_BIN, true); }

 private:
  const msgfile::Property* Find(ULONG tag, bool ofAttachment) const {
    const auto& in = ofAttachment ? attachment : values;
    const auto found = in.find(tag);
    return found == in.end() ? nullptr : &found->second;
  }
};

// The messages (and templates) of the folder at path below the top of the
// store in directory; path empty: its Common Views folder.
inline std::vector<StoredMessage> StoredMessages(const std::wstring& directory, const std::wstring& path) {
  std::vector<StoredMessage> messages;
  std::unique_ptr<provider::StoreLayout> layout;
  provider::FolderRecord folder;
  std::vector<provider::IndexEntry> entries;
  if (provider::StoreLayout::Open(directory, layout) != provider::StoreResult::Ok ||
      (path.empty() ? layout->Find(layout->commonViewsId(), folder) : layout->FindByPath(path, folder)) !=
          provider::StoreResult::Ok ||
      provider::ReadFolderIndex(folder.directory, entries) != provider::StoreResult::Ok) {
    ADD_FAILURE() << "no folder " << InCodePage(path, CP_UTF8);
    return messages;
  }
  for (const provider::IndexEntry& entry : entries) {
    msgfile::MessageReader reader;
    EXPECT_EQ(S_OK, reader.Open(provider::MessagePath(folder.directory, entry.id).c_str())) << "listed, no file";
    StoredMessage message;
    message.associated = entry.associated;
    for (auto object : {msgfile::ObjectRef::Message(), msgfile::ObjectRef::Attachment(0)}) {
      const std::vector<msgfile::PropertyEntry>* tags = reader.Properties(object);
      for (size_t i = 0; tags && i < tags->size(); ++i) {
        msgfile::Property value;
        if (reader.GetProperty(object, (*tags)[i].tag, &value) != S_OK) continue;
        (object.kind == msgfile::ObjectKind::Message ? message.values : message.attachment)[value.tag] = value;
      }
    }
    messages.push_back(message);
  }
  return messages;
}

}  // namespace kvtest
