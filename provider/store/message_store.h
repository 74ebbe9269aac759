// The one interface between the MAPI objects and wherever a store keeps its
// folders and messages: a directory of .msg files (directory_store.h) or a
// mail server (provider/server). The MAPI objects see folders by id and name,
// lists of message rows, and drafts of messages being composed; they never
// learn what lies behind.
//
// Calls on one MessageStore come one at a time (the session holds a lock
// around them); a draft may be saved while the store is used for other calls.
#pragma once

#include <windows.h>

#include <mapidefs.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <msgfile/message_property.h>

#include "folder_index.h"
#include "object_id.h"
#include "store_result.h"
#include "value.h"

namespace provider {

enum class FolderKind { Root, IpmSubtree, CommonViews, Generic };

struct FolderCounts {
  bool hasSubfolders = false;
  ULONG contents = 0;
  ULONG associated = 0;
  ULONG unread = 0;
};

// A folder as the MAPI objects know it. location is the store's own name for
// it (a directory, a mailbox), kept for the store and never read above it.
struct StoreFolder {
  ObjectId id{};
  ObjectId parentId{};  // all zero for the root
  FolderKind kind = FolderKind::Generic;
  std::wstring name;
  std::wstring comment;
  std::wstring location;
  // Counts a store learnt while listing the folder (a server's come in the
  // same round trip); a hierarchy table shows them without asking again.
  bool countsKnown = false;
  FolderCounts counts;
};

// The rows of a contents table (messages or associated messages) as they
// were when it was opened.
class MessageList {
 public:
  virtual ~MessageList() = default;
  virtual size_t Count() const = 0;
  // Every property tag the rows hold, sorted.
  virtual const std::vector<ULONG>& Tags() const = 0;
  virtual StoreResult Read(size_t index, IndexEntry& out) = 0;
};

// What a draft hands to the store when it is saved: the message's values and
// those of each attachment the caller saved, in attachment order.
struct DraftContents {
  struct Attachment {
    ULONG number = 0;
    const std::vector<Value>* values = nullptr;
    uint64_t size = 0;  // its values and streamed data together (PR_ATTACH_SIZE)
  };
  bool associated = false;
  ULONG messageFlags = 0;  // computed flags included
  const std::vector<Value>* values = nullptr;
  std::vector<Attachment> attachments;
};

struct SavedMessage {
  ObjectId id{};
  uint64_t size = 0;  // PR_MESSAGE_SIZE
  // Where its streamed values can be read back; empty when the store keeps
  // none at hand (they went to a server).
  std::wstring file;
};

// The store's side of a message being composed: where values too large to
// keep in memory (attachment data) go as they are written, and what saving
// means. Values the caller sets are kept by the caller and handed over at
// Save. Methods answer HRESULTs as the message file writer does
// (MAPI_E_TOO_BIG when a value would take the message beyond the store's
// limit).
class MessageDraft {
 public:
  virtual ~MessageDraft() = default;

  virtual HRESULT CreateAttachment(ULONG* number) noexcept = 0;
  virtual void DeleteAttachment(ULONG number) noexcept = 0;
  // One value at a time is streamed; it replaces any earlier value of its tag.
  virtual HRESULT BeginValueStream(msgfile::ObjectRef object, ULONG tag) noexcept = 0;
  virtual HRESULT WriteValueStream(const void* data, ULONG size) noexcept = 0;
  virtual HRESULT EndValueStream() noexcept = 0;
  virtual void CancelValueStream() noexcept = 0;
  // Drops a value streamed earlier.
  virtual void DeleteStreamedValue(msgfile::ObjectRef object, ULONG tag) noexcept = 0;
  // Whether the message stays within the store's limit if the open stream
  // takes moreBytes more, with otherBytes of otherValues values still to come.
  virtual bool Fits(uint64_t moreBytes, uint64_t otherBytes, uint32_t otherValues) const noexcept = 0;
  // Stores the message whole or not at all. The draft is spent either way.
  virtual HRESULT Save(const DraftContents& contents, SavedMessage& out) noexcept = 0;
  // Drops everything written; nothing of the message is stored.
  virtual void Abandon() noexcept = 0;
};

class MessageStore {
 public:
  virtual ~MessageStore() = default;

  virtual const ObjectId& storeId() const = 0;
  virtual const ObjectId& rootId() const = 0;
  virtual const ObjectId& ipmSubtreeId() const = 0;
  // All zero when the store has no Common Views folder.
  virtual const ObjectId& commonViewsId() const = 0;

  // A store that lost what it stands on (a server connection) gets it back,
  // or says why not. Called before a store is opened.
  virtual StoreResult Reconnect() = 0;

  virtual StoreResult Find(const ObjectId& id, StoreFolder& out) = 0;
  // The subfolders, sorted by name; the store's own hidden folders are not among them.
  virtual StoreResult Children(const StoreFolder& parent, std::vector<StoreFolder>& out) = 0;
  // The counts as they are now.
  virtual StoreResult Counts(const StoreFolder& folder, FolderCounts& out) = 0;
  // Creates a subfolder. An existing subfolder of exactly this name is a
  // Collision, or is returned when openIfExists. InvalidName for a name the
  // store cannot hold (a server's separator in it).
  virtual StoreResult CreateFolder(const StoreFolder& parent, const std::wstring& name, const std::wstring& comment,
                                   bool openIfExists, StoreFolder& out) = 0;
  // Whether the store itself lets messages and folders be created in the
  // folder (a server's rights); the profile's marks are the caller's matter.
  virtual StoreResult Writable(const StoreFolder& folder, bool& writable) = 0;
  // Puts a folder right before it is first written to.
  virtual StoreResult PrepareForWriting(const StoreFolder& folder) = 0;
  virtual StoreResult OpenMessages(const StoreFolder& folder, bool associated, std::unique_ptr<MessageList>& out) = 0;
  virtual StoreResult NewDraft(const StoreFolder& folder, bool associated, std::unique_ptr<MessageDraft>& out) = 0;
  // The file of a saved message, for reading it; NotSupported where saved
  // messages are not opened (a server's).
  virtual StoreResult SavedMessageFile(const StoreFolder& folder, const ObjectId& id, std::wstring& path) = 0;
};

}  // namespace provider
