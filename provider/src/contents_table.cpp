#include "contents_table.h"

#include <mapitags.h>

#include <algorithm>

#include "properties.h"
#include "table.h"

namespace provider {
namespace {

// What a contents table shows before SetColumns.
const std::vector<ULONG>& ContentsColumns() {
  static const std::vector<ULONG> columns = {
      PR_ENTRYID,        PR_INSTANCE_KEY,   PR_MESSAGE_CLASS_W,  PR_SUBJECT_W,  PR_DISPLAY_NAME_W,
      PR_MESSAGE_FLAGS,  PR_MESSAGE_SIZE,   PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME,
      PR_LAST_MODIFICATION_TIME, PR_SENDER_NAME_W, PR_HASATTACH};
  return columns;
}

// The identity values each row carries besides what the index keeps.
const std::vector<ULONG>& IdentityColumns() {
  static const std::vector<ULONG> columns = {PR_RECORD_KEY, PR_OBJECT_TYPE, PR_PARENT_ENTRYID, PR_STORE_ENTRYID};
  return columns;
}

class MessageRows final : public RowSource {
 public:
  MessageRows(const StoreState& store, const ObjectId& folderId, std::unique_ptr<MessageList> messages)
      : storeId_(store.storeId), folderId_(folderId), parentEntryId_(FolderEntryId(store, folderId)),
        storeEntryId_(store.StoreEntryId()), messages_(std::move(messages)) {}
  const MessageList& messages() const { return *messages_; }

  size_t Count() const override { return messages_->Count(); }
  HRESULT Row(size_t index, const TableRow*& row) override {
    StoreResult result = messages_->Read(index, entry_);
    if (result != StoreResult::Ok) return StoreResultToHresult(result);
    EntryId id;
    id.kind = EntryKind::Message;
    id.store = storeId_;
    id.folder = folderId_;
    id.object = entry_.id;
    row_.clear();
    row_.push_back(Value::Binary(PR_ENTRYID, EncodeEntryId(id)));
    row_.push_back(Value::Binary(PR_INSTANCE_KEY, entry_.id));
    row_.push_back(Value::Binary(PR_RECORD_KEY, entry_.id));
    row_.push_back(Value::Long(PR_OBJECT_TYPE, MAPI_MESSAGE));
    row_.push_back(Value::Binary(PR_PARENT_ENTRYID, parentEntryId_));
    row_.push_back(Value::Binary(PR_STORE_ENTRYID, storeEntryId_));
    for (Value& value : entry_.properties) {
      if (FindValue(row_, value.tag)) continue;
      row_.push_back(std::move(value));
    }
    row = &row_;
    return S_OK;
  }

 private:
  ObjectId storeId_, folderId_;
  std::vector<uint8_t> parentEntryId_, storeEntryId_;
  std::unique_ptr<MessageList> messages_;
  IndexEntry entry_;
  TableRow row_;
};

}  // namespace

HRESULT OpenContentsTable(const std::shared_ptr<StoreState>& store, const StoreFolder& folder, ULONG flags,
                          LPMAPITABLE* table) {
  std::unique_ptr<MessageList> messages;
  {
    std::lock_guard<std::mutex> guard(store->lock);
    StoreResult result = store->store->OpenMessages(folder, (flags & MAPI_ASSOCIATED) != 0, messages);
    if (result != StoreResult::Ok) return StoreResultToHresult(result);
  }
  std::unique_ptr<MessageRows> rows(new MessageRows(*store, folder.id, std::move(messages)));
  std::vector<ULONG> all = ContentsColumns();
  auto add = [&all](ULONG tag) {
    if (std::none_of(all.begin(), all.end(), [tag](ULONG t) { return PropId(t) == PropId(tag); })) all.push_back(tag);
  };
  for (ULONG tag : IdentityColumns()) add(tag);
  for (ULONG tag : rows->messages().Tags()) add(tag);
  *table = new TableObject(std::move(rows), ContentsColumns(), all, (flags & MAPI_UNICODE) != 0);
  return S_OK;
}

}  // namespace provider
