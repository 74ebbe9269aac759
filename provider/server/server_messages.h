// A server folder's messages as a contents table lists them: read once when
// the table is opened (EXAMINE and one UID FETCH of the headers a row shows),
// from the message's own headers, so messages other clients posted are
// listed like ours.
#pragma once

#include <string>
#include <vector>

#include "message_store.h"
#include "server_connection.h"

namespace provider {

// A server message's id: its folder's UIDVALIDITY and its UID, so the same
// message has the same id in every session.
ObjectId ServerMessageKey(uint32_t uidValidity, uint32_t uid);

class ServerMessageList final : public MessageList {
 public:
  // A missing folder is NotFound, except a hidden associated folder not yet
  // made (associated), which holds nothing; so does a folder that holds no
  // messages at all (a namespace's \Noselect top).
  StoreResult Load(ServerConnection& connection, const std::wstring& mailbox, bool associated);

  size_t Count() const override { return rows_.size(); }
  const std::vector<ULONG>& Tags() const override { return tags_; }
  StoreResult Read(size_t index, IndexEntry& out) override {
    out = rows_[index];
    return StoreResult::Ok;
  }

 private:
  std::vector<IndexEntry> rows_;
  std::vector<ULONG> tags_;
};

}  // namespace provider
