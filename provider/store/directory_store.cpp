#include "directory_store.h"

#include <mapicode.h>
#include <mapitags.h>

#include <msgfile/message_writer.h>

#include "files.h"
#include "folder_counts.h"
#include "folder_repair.h"
#include "message_files.h"

namespace provider {
namespace {

StoreFolder ToStoreFolder(FolderRecord record) {
  StoreFolder folder;
  folder.id = record.id;
  folder.parentId = record.parentId;
  folder.kind = record.kind;
  folder.name = std::move(record.name);
  folder.comment = std::move(record.comment);
  folder.location = std::move(record.directory);
  return folder;
}

FolderRecord ToRecord(const StoreFolder& folder) {
  FolderRecord record;
  record.id = folder.id;
  record.parentId = folder.parentId;
  record.kind = folder.kind;
  record.name = folder.name;
  record.comment = folder.comment;
  record.directory = folder.location;
  return record;
}

class IndexMessages final : public MessageList {
 public:
  StoreResult Open(const std::wstring& directory, bool associated) { return snapshot_.Open(directory, associated); }
  size_t Count() const override { return snapshot_.Count(); }
  const std::vector<ULONG>& Tags() const override { return snapshot_.Tags(); }
  StoreResult Read(size_t index, IndexEntry& out) override { return snapshot_.Read(index, out); }

 private:
  IndexSnapshot snapshot_;
};

// The writer's failures as MAPI reports them; a file beyond its limit is too big.
HRESULT WriterResult(HRESULT hr) {
  if (hr == E_OUTOFMEMORY) return MAPI_E_NOT_ENOUGH_MEMORY;
  if (hr == STG_E_DOCFILETOOLARGE) return MAPI_E_TOO_BIG;
  return hr;
}

// A message file written aside in the folder's composing\ as <name>.tmp and
// moved into its bucket as <id>.msg by the save, which takes the id then
// (message_paths.h) and adds its line to the index. Not marked for deletion:
// what a killed posting leaves in composing\ is swept away when the folder is
// next opened for writing.
class FileDraft final : public MessageDraft {
 public:
  HRESULT Create(const std::wstring& folderDirectory, const ObjectId& folderId,
                 std::shared_ptr<std::atomic<uint64_t>> countsRecord) {
    folderDirectory_ = folderDirectory;
    folderId_ = folderId;
    countsRecord_ = std::move(countsRecord);
    temporaryPath_ = ComposingPath(folderDirectory, NewObjectId());
    HRESULT hr = writer_.Create(temporaryPath_.c_str(), 3, false);
    // Directories are made the first time they are needed, so that a posting
    // into a folder that has them pays nothing for them.
    if (FAILED(hr) && hr != E_OUTOFMEMORY) {
      if (!CreateDirectoryTree(ComposingDirectory(folderDirectory))) return MAPI_E_DISK_ERROR;
      hr = writer_.Create(temporaryPath_.c_str(), 3, false);
    }
    if (hr == E_OUTOFMEMORY) return MAPI_E_NOT_ENOUGH_MEMORY;
    return FAILED(hr) ? MAPI_E_DISK_ERROR : S_OK;
  }

  HRESULT CreateAttachment(ULONG* number) noexcept override {
    HRESULT hr = writer_.CreateAttachment(number);
    return hr == E_OUTOFMEMORY ? MAPI_E_NOT_ENOUGH_MEMORY : hr;
  }
  void DeleteAttachment(ULONG number) noexcept override { writer_.DeleteAttachment(number); }
  HRESULT BeginValueStream(msgfile::ObjectRef object, ULONG tag) noexcept override {
    HRESULT hr = writer_.BeginValueStream(object, tag);
    return hr == E_OUTOFMEMORY ? MAPI_E_NOT_ENOUGH_MEMORY : hr;
  }
  HRESULT WriteValueStream(const void* data, ULONG size) noexcept override {
    HRESULT hr = writer_.WriteValueStream(data, size);
    return hr == E_OUTOFMEMORY ? STG_E_INSUFFICIENTMEMORY : WriterResult(hr);
  }
  HRESULT EndValueStream() noexcept override { return WriterResult(writer_.EndValueStream()); }
  void CancelValueStream() noexcept override { writer_.CancelValueStream(); }
  void DeleteStreamedValue(msgfile::ObjectRef object, ULONG tag) noexcept override {
    writer_.DeleteProperty(object, tag);
  }
  bool Fits(uint64_t moreBytes, uint64_t otherBytes, uint32_t otherValues) const noexcept override {
    return writer_.Fits(moreBytes, otherBytes, otherValues);
  }
  HRESULT Save(const DraftContents& contents, SavedMessage& out) noexcept override {
    try {
      HRESULT hr = WriteAndPlace(contents, out);
      if (FAILED(hr)) writer_.Abandon();
      return hr;
    } catch (const std::bad_alloc&) {
      writer_.Abandon();
      return MAPI_E_NOT_ENOUGH_MEMORY;
    }
  }
  void Abandon() noexcept override { writer_.Abandon(); }

 private:
  HRESULT WriteAndPlace(const DraftContents& contents, SavedMessage& out) {
    auto put = [this](msgfile::ObjectRef object, const msgfile::Property& property) {
      return WriterResult(writer_.SetProperty(object, property));
    };
    HRESULT hr = S_OK;
    for (const DraftContents::Attachment& attachment : contents.attachments) {
      const msgfile::ObjectRef object = msgfile::ObjectRef::Attachment(attachment.number);
      for (const Value& value : *attachment.values)
        if (FAILED(hr = put(object, FilePropertyFromValue(value)))) return hr;
      const uint64_t size = std::min<uint64_t>(attachment.size, 0x7FFFFFFF);
      if (FAILED(hr = put(object, msgfile::LongProperty(PR_ATTACH_SIZE, static_cast<int32_t>(size))))) return hr;
    }
    for (const Value& value : *contents.values)
      if (FAILED(hr = put(msgfile::ObjectRef::Message(), FilePropertyFromValue(value)))) return hr;
    hr = put(msgfile::ObjectRef::Message(),
             msgfile::LongProperty(PR_MESSAGE_FLAGS, static_cast<int32_t>(contents.messageFlags)));
    if (FAILED(hr)) return hr;

    // The index lock before the file is finished and moved: whoever holds it
    // sees this message either being composed or saved with its line, never
    // placed without it.
    IndexWriter index(folderDirectory_, &folderId_, countsRecord_.get());
    StoreResult result = index.Begin();
    if (result != StoreResult::Ok) return StoreResultToHresult(result);
    // Its id from the folder's count, noted in the lock file until its line
    // and counts are written; then finished, moved into its bucket (made if
    // missing) and closed.
    id_ = NewMessageId(index.MessageCount());
    result = index.NotePlacing(id_);
    if (result != StoreResult::Ok) return StoreResultToHresult(result);
    uint64_t fileSize = 0;
    const std::wstring finalPath = MessagePath(folderDirectory_, id_);
    hr = writer_.Finish(&fileSize, finalPath.c_str());
    if (FAILED(hr)) return WriterResult(hr);
    result = index.Append({MakeIndexEntry(id_, contents.associated, *contents.values, fileSize,
                                          !contents.attachments.empty(), contents.messageFlags)});
    if (result != StoreResult::Ok) {
      DeleteFileW(finalPath.c_str());
      return StoreResultToHresult(result);
    }
    out.id = id_;
    out.size = fileSize;
    out.file = finalPath;
    return S_OK;
  }

  std::wstring folderDirectory_;
  ObjectId folderId_{};
  std::shared_ptr<std::atomic<uint64_t>> countsRecord_;
  ObjectId id_{};
  std::wstring temporaryPath_;
  msgfile::MessageWriter writer_;
};

}  // namespace

StoreResult DirectoryStore::Open(const std::wstring& directory, std::unique_ptr<MessageStore>& out) {
  std::unique_ptr<StoreLayout> layout;
  StoreResult result = StoreLayout::Open(directory, layout);
  if (result == StoreResult::Ok) out.reset(new DirectoryStore(std::move(layout)));
  return result;
}

StoreResult DirectoryStore::Find(const ObjectId& id, StoreFolder& out) {
  FolderRecord record;
  StoreResult result = layout_->Find(id, record);
  if (result == StoreResult::Ok) out = ToStoreFolder(std::move(record));
  return result;
}

StoreResult DirectoryStore::Children(const StoreFolder& parent, std::vector<StoreFolder>& out) {
  std::vector<FolderRecord> records;
  StoreResult result = layout_->Children(ToRecord(parent), records);
  if (result != StoreResult::Ok) return result;
  // The rows' counts from the parent's records; a folder without one is
  // read when its counts are asked for.
  SubfolderCounts counts;
  ReadSubfolderCounts(parent.location, counts);
  out.clear();
  out.reserve(records.size());
  for (FolderRecord& record : records) {
    out.push_back(ToStoreFolder(std::move(record)));
    auto known = counts.find(out.back().id);
    if (known == counts.end()) continue;
    out.back().countsKnown = true;
    out.back().counts.hasSubfolders = known->second.hasSubfolders;
    out.back().counts.contents = known->second.counts.contents;
    out.back().counts.associated = known->second.counts.associated;
  }
  return StoreResult::Ok;
}

StoreResult DirectoryStore::Counts(const StoreFolder& folder, FolderCounts& out) {
  std::vector<FolderRecord> children;
  out.hasSubfolders = layout_->Children(ToRecord(folder), children) == StoreResult::Ok && !children.empty();
  IndexCounts counts;
  ReadIndexCounts(folder.location, counts);
  out.contents = counts.contents;
  out.associated = counts.associated;
  out.unread = 0;
  return StoreResult::Ok;
}

StoreResult DirectoryStore::CreateFolder(const StoreFolder& parent, const std::wstring& name,
                                         const std::wstring& comment, bool openIfExists, StoreFolder& out) {
  FolderRecord created;
  StoreResult result = layout_->CreateFolder(ToRecord(parent), name, comment, openIfExists, created);
  if (result == StoreResult::Ok) out = ToStoreFolder(std::move(created));
  return result;
}

StoreResult DirectoryStore::PrepareForWriting(const StoreFolder& folder) {
  bool repairNeeded = false;
  StoreResult result = CheckBeforeWriting(folder.location, repairNeeded);
  if (result != StoreResult::Ok || !repairNeeded) return result;
  RepairReport report;
  result = RepairFolder(folder.location, report);
  return result == StoreResult::Ok ? layout_->RefreshCounts(ToRecord(folder)) : result;
}

StoreResult DirectoryStore::OpenMessages(const StoreFolder& folder, bool associated,
                                         std::unique_ptr<MessageList>& out) {
  std::unique_ptr<IndexMessages> messages(new IndexMessages());
  StoreResult result = messages->Open(folder.location, associated);
  if (result == StoreResult::Ok) out = std::move(messages);
  return result;
}

StoreResult DirectoryStore::NewDraft(const StoreFolder& folder, bool, std::unique_ptr<MessageDraft>& out) {
  std::unique_ptr<FileDraft> draft(new FileDraft());
  std::shared_ptr<std::atomic<uint64_t>>& record = countsRecords_[folder.id];
  if (!record) record = std::make_shared<std::atomic<uint64_t>>(kNoCountsRecord);
  HRESULT hr = draft->Create(folder.location, folder.id, record);
  if (hr == MAPI_E_NOT_ENOUGH_MEMORY) return StoreResult::OutOfMemory;
  if (FAILED(hr)) return StoreResult::IoError;
  out = std::move(draft);
  return StoreResult::Ok;
}

StoreResult DirectoryStore::SavedMessageFile(const StoreFolder& folder, const ObjectId& id, std::wstring& path) {
  path = ExistingMessagePath(folder.location, id);
  return StoreResult::Ok;
}

}  // namespace provider
