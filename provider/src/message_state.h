// One message of a folder, as its IMessage, its IAttach objects and their
// streams share it: either a new message being composed, whose large values
// (attachment data) go to the store's draft as they arrive, or a saved
// message, read from its file and read-only.
//
// What a draft is depends on the store (message_store.h): on disk a message
// file written aside and marked for deletion until the final SaveChanges
// places it and lists it in the folder's index; on a server spooled values
// that SaveChanges sends as one message. Either way a message released
// unsaved, or whose process dies, leaves nothing, and a saved one appears in
// its contents table whole.
#pragma once

#include <windows.h>

#include <mapidefs.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <msgfile/message_reader.h>

#include "session_state.h"
#include "table.h"

namespace provider {

// Values above this size are not handed out by GetProps (MAPI_E_NOT_ENOUGH_MEMORY):
// they are read through OpenProperty.
constexpr uint64_t kLargestInlineValue = 64u << 10;

// The values of the message or of one attachment: small ones in memory, and
// those whose bytes went to (or are read from) the file.
struct PropertySet {
  struct InFile {
    ULONG tag = 0;
    uint64_t size = 0;
  };
  std::vector<Value> values;
  std::vector<InFile> inFile;

  void Remove(ULONG tag);  // by property id, wherever the value is
};

struct AttachmentRecord {
  ULONG number = 0;     // PR_ATTACH_NUM
  bool saved = false;   // IAttach::SaveChanges was called; unsaved ones are dropped
  ULONG fileIndex = 0;  // saved messages: the attachment's place in the file
  PropertySet properties;
};

struct PropertyProblem {
  ULONG index;
  ULONG tag;
  SCODE code;
};

class MessageState : public std::enable_shared_from_this<MessageState> {
 public:
  // A new message in a folder; its draft is made at once.
  static HRESULT Create(const std::shared_ptr<StoreState>& store, const StoreFolder& folder, bool associated,
                        std::shared_ptr<MessageState>& out);
  // A saved message of a folder, read from its file.
  static HRESULT Open(const std::shared_ptr<StoreState>& store, const StoreFolder& folder, const ObjectId& id,
                      std::shared_ptr<MessageState>& out);

  MessageState(const MessageState&) = delete;
  MessageState& operator=(const MessageState&) = delete;

  bool Writable();

  // The values GetProps shows, computed ones included; values above
  // kLargestInlineValue, and values streamed into a message not yet saved,
  // as PT_ERROR. tags: what GetPropList shows.
  HRESULT View(msgfile::ObjectRef object, std::vector<Value>& values, std::vector<ULONG>& tags);
  HRESULT SetProps(msgfile::ObjectRef object, ULONG count, const SPropValue* props,
                   std::vector<PropertyProblem>& problems);
  HRESULT DeleteProps(msgfile::ObjectRef object, const SPropTagArray& tags, std::vector<PropertyProblem>& problems);
  // A stream that writes the value to the file as it comes (the value starts
  // empty), or one that reads it.
  HRESULT OpenPropertyStream(msgfile::ObjectRef object, ULONG tag, ULONG flags, IStream** stream);

  HRESULT CreateAttachment(ULONG* number);
  // Whether an attachment can be opened: saved into the message once.
  HRESULT FindAttachment(ULONG number);
  HRESULT DeleteAttachment(ULONG number);
  HRESULT SaveAttachment(ULONG number);
  // An attachment object created by CreateAttach goes away: an attachment
  // never saved is dropped with its data.
  void ReleaseAttachment(ULONG number);
  HRESULT AttachmentRows(std::vector<TableRow>& rows);

  HRESULT SetReadFlag(ULONG flags);
  HRESULT Save(ULONG flags);

  // For the write streams this state hands out; a stream whose value was
  // ended or dropped meanwhile answers STG_E_REVERTED. A write or a size that
  // would take the message file beyond its limit answers MAPI_E_TOO_BIG at
  // once, before anything is written.
  HRESULT StreamWrite(uint64_t token, const void* data, ULONG size);
  // The size the caller is going to write: S_OK when the message file can
  // hold it; nothing changes either way (the value is what is written).
  HRESULT StreamSetSize(uint64_t token, uint64_t size);
  void StreamClose(uint64_t token) noexcept;

 private:
  enum class Phase { Composing, Saved, Failed };

  MessageState() = default;
  PropertySet* Properties(msgfile::ObjectRef object);
  AttachmentRecord* Attachment(ULONG number);
  HRESULT EndStreamLocked();
  // Whether the file stays within its limit if the open stream takes bytes
  // more, with the values kept for the save.
  bool FitsLocked(uint64_t bytes) const;
  // Drops a value; one already in the file being composed is dropped there too.
  void RemoveValue(msgfile::ObjectRef object, PropertySet& set, ULONG tag);
  msgfile::ObjectRef FileObject(msgfile::ObjectRef object);
  HRESULT EnsureReader();
  void ComputedValues(msgfile::ObjectRef object, std::vector<Value>& out);
  uint64_t AttachmentSize(const AttachmentRecord& record) const;
  HRESULT LoadFromFile(const std::wstring& path);
  HRESULT SaveDraft();
  std::vector<uint8_t> EntryIdBytes() const;

  std::mutex lock_;
  std::shared_ptr<StoreState> store_;
  StoreFolder folder_;
  ObjectId id_{};
  bool associated_ = false;
  Phase phase_ = Phase::Composing;
  HRESULT failure_ = S_OK;

  PropertySet message_;
  ULONG messageFlags_ = MSGFLAG_READ;
  std::vector<AttachmentRecord> attachments_;
  uint64_t fileSize_ = 0;

  // Composing: the store's draft, and the one value stream open on it.
  std::unique_ptr<MessageDraft> draft_;
  uint64_t nextToken_ = 0;
  uint64_t streamToken_ = 0;
  msgfile::ObjectRef streamObject_;
  ULONG streamTag_ = 0;
  uint64_t streamSize_ = 0;
  bool savedHere_ = false;

  // Saved: the file, read on demand (none when the store keeps none at hand).
  std::wstring path_;
  std::unique_ptr<msgfile::MessageReader> reader_;
};

}  // namespace provider
