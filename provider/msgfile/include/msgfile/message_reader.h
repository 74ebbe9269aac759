// Reads an Outlook message file (.msg): the property list of the message and
// of each attachment and recipient, small values whole, large values as
// streams read piecewise.
//
// Attachments and recipients are numbered 0, 1, 2... in the order of their
// storage names. Embedded messages and multi-valued values are listed but
// their values are not read (MAPI_E_NO_SUPPORT).
//
// Methods are noexcept and return an HRESULT: those of CompoundFileReader,
// plus MAPI_E_NOT_FOUND for an object or property that is absent,
// MAPI_E_CORRUPT_DATA for a file without the message layout, and
// MAPI_E_TOO_BIG for a value longer than the limit given.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include <msgfile/compound_file_reader.h>
#include <msgfile/message_property.h>

namespace msgfile {

constexpr EntryId kNoEntry = 0xFFFFFFFFu;

// One entry of an object's property stream.
struct PropertyEntry {
  ULONG tag = 0;
  ULONG flags = 0;
  uint64_t fixed = 0;       // fixed-size types: the value
  uint64_t size = 0;        // streamed types: bytes in the value's stream
  EntryId stream = kNoEntry;  // streamed types: the value's stream, kNoEntry when the file has none
};

struct MessageHeader {
  ULONG nextRecipientId = 0;
  ULONG nextAttachmentId = 0;
  ULONG recipientCount = 0;
  ULONG attachmentCount = 0;
};

class MessageReader {
 public:
  static constexpr uint64_t kDefaultValueLimit = 64u << 20;

  MessageReader() noexcept;
  ~MessageReader();
  MessageReader(const MessageReader&) = delete;
  MessageReader& operator=(const MessageReader&) = delete;

  HRESULT Open(const wchar_t* path) noexcept;
  void Close() noexcept;

  const MessageHeader& Header() const noexcept { return header_; }
  ULONG AttachmentCount() const noexcept { return static_cast<ULONG>(attachments_.size()); }
  ULONG RecipientCount() const noexcept { return static_cast<ULONG>(recipients_.size()); }

  // The object's entries in stream order; null for an unknown object.
  const std::vector<PropertyEntry>* Properties(ObjectRef object) const noexcept;
  // The value whose tag matches exactly, or by id alone when tag's type is
  // kAnyPropertyType. String values lose a terminator the stream may carry.
  HRESULT GetProperty(ObjectRef object, ULONG tag, Property* value,
                      uint64_t limit = kDefaultValueLimit) const noexcept;
  // A streamed value piecewise, whatever its size.
  HRESULT OpenValueStream(ObjectRef object, ULONG tag, StreamReader* stream) const noexcept;

  // The compound file underneath, for what the message layer does not cover.
  const CompoundFileReader& File() const noexcept { return file_; }

 private:
  struct Object {
    EntryId storage = kRootEntry;
    std::vector<PropertyEntry> properties;
  };
  // header, when given, receives the stream's first headerBytes bytes.
  HRESULT LoadObject(EntryId storage, size_t headerBytes, Object* object, uint8_t* header) noexcept;
  const Object* Find(ObjectRef object) const noexcept;
  const PropertyEntry* FindEntry(ObjectRef object, ULONG tag) const noexcept;

  CompoundFileReader file_;
  MessageHeader header_;
  Object message_;
  std::vector<Object> attachments_;
  std::vector<Object> recipients_;
};

}  // namespace msgfile
