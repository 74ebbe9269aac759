// The store on disk behind the store interface: folders from the store's
// layout (store_layout.h), contents tables from each folder's index, and
// drafts written as .msg files that a save moves into the folder and lists
// in its index (folder_repair.h).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>

#include "message_store.h"
#include "store_layout.h"

namespace provider {

class DirectoryStore final : public MessageStore {
 public:
  // Opens an existing store only, writing nothing: NotFound when the
  // directory is missing or holds no store, Corrupt when its store file is
  // damaged.
  static StoreResult Open(const std::wstring& directory, std::unique_ptr<MessageStore>& out);

  const ObjectId& storeId() const override { return layout_->storeId(); }
  const ObjectId& rootId() const override { return layout_->rootId(); }
  const ObjectId& ipmSubtreeId() const override { return layout_->ipmSubtreeId(); }
  const ObjectId& commonViewsId() const override { return layout_->commonViewsId(); }

  StoreResult Reconnect() override { return StoreResult::Ok; }
  StoreResult Find(const ObjectId& id, StoreFolder& out) override;
  StoreResult Children(const StoreFolder& parent, std::vector<StoreFolder>& out) override;
  StoreResult Counts(const StoreFolder& folder, FolderCounts& out) override;
  StoreResult CreateFolder(const StoreFolder& parent, const std::wstring& name, const std::wstring& comment,
                           bool openIfExists, StoreFolder& out) override;
  StoreResult Writable(const StoreFolder&, bool& writable) override {
    writable = true;
    return StoreResult::Ok;
  }
  // Stale composing files go, an index that does not describe the message
  // files is rebuilt from them, and the folder's record in its parent's
  // subfolders.kvc is written anew.
  StoreResult PrepareForWriting(const StoreFolder& folder) override;
  StoreResult OpenMessages(const StoreFolder& folder, bool associated, std::unique_ptr<MessageList>& out) override;
  StoreResult NewDraft(const StoreFolder& folder, bool associated, std::unique_ptr<MessageDraft>& out) override;
  StoreResult SavedMessageFile(const StoreFolder& folder, const ObjectId& id, std::wstring& path) override;

 private:
  explicit DirectoryStore(std::unique_ptr<StoreLayout> layout) : layout_(std::move(layout)) {}
  std::unique_ptr<StoreLayout> layout_;
  // Where each folder's counts record was last found, shared with the
  // drafts that write it (a draft may be saved while the store is in use).
  std::unordered_map<ObjectId, std::shared_ptr<std::atomic<uint64_t>>, ObjectIdHash> countsRecords_;
};

}  // namespace provider
