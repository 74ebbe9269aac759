// Writes one Outlook message file (.msg): the message's properties, its
// attachments and recipients, each in a storage of its own, over a
// CompoundFileWriter.
//
// Properties may be set, replaced and deleted until Finish; they are kept in
// memory and laid out at Finish. A large value, typically an attachment's
// PR_ATTACH_DATA_BIN, is streamed instead: BeginValueStream, any number of
// WriteValueStream calls, EndValueStream. Its bytes go to the file as they
// come, so no value is ever held whole in memory.
//
// Properties are identified by their property id: setting PR_SUBJECT_A
// replaces PR_SUBJECT_W. Finish adds PR_STORE_SUPPORT_MASK (Unicode strings
// allowed) when any Unicode value is present and the caller set none, and
// PR_ATTACH_NUM / PR_ROWID to attachments and recipients that lack them.
//
// Until Finish succeeds the file is marked for deletion (see
// CompoundFileWriter). Every method is noexcept and returns an HRESULT:
// besides those of CompoundFileWriter, MAPI_E_INVALID_TYPE for a type the
// file cannot hold, MAPI_E_NOT_FOUND for an unknown object or property, and
// E_UNEXPECTED for a call out of order (a second value stream, Finish while
// a value stream is open).
#pragma once

#include <windows.h>

#include <mapidefs.h>

#include <memory>

#include <msgfile/message_property.h>

namespace msgfile {

class MessageWriter {
 public:
  MessageWriter() noexcept;
  ~MessageWriter();
  MessageWriter(const MessageWriter&) = delete;
  MessageWriter& operator=(const MessageWriter&) = delete;

  // compoundFileVersion: 3 (512-byte sectors, the default) or 4.
  // markForDeletion: see CompoundFileWriter::Create.
  HRESULT Create(const wchar_t* path, unsigned compoundFileVersion = 3, bool markForDeletion = true) noexcept;

  HRESULT SetProperty(ObjectRef object, const SPropValue& value) noexcept;
  HRESULT SetProperty(ObjectRef object, const Property& value) noexcept;
  HRESULT DeleteProperty(ObjectRef object, ULONG tag) noexcept;

  // Numbers start at 0 and are never reused within one file. A message holds
  // at most 2048 attachments and 2048 recipients (MAPI_E_TOO_BIG).
  HRESULT CreateAttachment(ULONG* number) noexcept;
  HRESULT DeleteAttachment(ULONG number) noexcept;
  HRESULT CreateRecipient(ULONG* number) noexcept;
  HRESULT DeleteRecipient(ULONG number) noexcept;

  // tag's type must be PT_BINARY, PT_UNICODE (UTF-16LE bytes, no terminator)
  // or PT_STRING8 (no terminator). The value replaces any earlier one when
  // the stream ends; CancelValueStream drops what was written.
  HRESULT BeginValueStream(ObjectRef object, ULONG tag) noexcept;
  HRESULT WriteValueStream(const void* data, ULONG size) noexcept;
  HRESULT EndValueStream() noexcept;
  HRESULT CancelValueStream() noexcept;

  // Whether the file stays within the compound file's limit (2 GiB - 1) if
  // the open value stream takes moreBytes more, with the values set so far
  // and otherBytes of otherValues values the caller will still set.
  bool Fits(uint64_t moreBytes, uint64_t otherBytes = 0, uint32_t otherValues = 0) const noexcept;

  // fileSize, when given, receives the size of the finished file; finalPath,
  // when given, is where it is moved (CompoundFileWriter::Finish).
  HRESULT Finish(uint64_t* fileSize = nullptr, const wchar_t* finalPath = nullptr) noexcept;
  void Abandon() noexcept;
  bool IsOpen() const noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace msgfile
