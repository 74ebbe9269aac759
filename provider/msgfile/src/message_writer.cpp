#include <msgfile/message_writer.h>

#include <mapicode.h>

#include <map>
#include <new>
#include <vector>

#include <msgfile/compound_file_writer.h>

#include "compound_file_layout.h"
#include "message_layout.h"

namespace msgfile {

namespace {

struct StoredValue {
  Property value;                  // tag, and the bytes unless streamed
  ContentId content = kNoContent;  // a streamed value's bytes in the file
};

struct Object {
  ULONG number = 0;
  std::map<ULONG, StoredValue> properties;  // by property id, so the stream lists them in order
};

bool IsWritableType(ULONG type) { return FixedValueBytes(type) > 0 || IsStreamedType(type); }

}  // namespace

struct MessageWriter::Impl {
  CompoundFileWriter file;
  Object message;
  std::vector<Object> attachments;
  std::vector<Object> recipients;
  ULONG nextAttachment = 0;
  ULONG nextRecipient = 0;
  HRESULT failure = S_OK;  // a Finish that failed half-way

  bool streaming = false;
  ObjectKind streamKind = ObjectKind::Message;
  ULONG streamNumber = 0;
  ULONG streamTag = 0;
  ContentId streamContent = kNoContent;

  std::vector<Object>* Collection(ObjectKind kind) {
    return kind == ObjectKind::Attachment ? &attachments : kind == ObjectKind::Recipient ? &recipients : nullptr;
  }
  Object* Find(ObjectRef ref) {
    if (ref.kind == ObjectKind::Message) return &message;
    for (Object& object : *Collection(ref.kind)) {
      if (object.number == ref.number) return &object;
    }
    return nullptr;
  }
  void DropValue(StoredValue* value) {
    if (value->content != kNoContent) file.DiscardContent(value->content);
    value->content = kNoContent;
  }
  // Replaces the value with the same property id.
  void Store(Object* object, StoredValue value) {
    const ULONG id = PROP_ID(value.value.tag);
    auto found = object->properties.find(id);
    if (found != object->properties.end()) {
      DropValue(&found->second);
      found->second = std::move(value);
    } else {
      object->properties.emplace(id, std::move(value));
    }
  }
  HRESULT Cancel() {
    if (!streaming) return E_UNEXPECTED;
    streaming = false;
    return file.DiscardContent(streamContent);
  }
  HRESULT CreateObject(ObjectKind kind, ULONG* number) {
    // The most attachment or recipient storages a message file may hold.
    if (Collection(kind)->size() >= msg::kMaxSubObjects) return MAPI_E_TOO_BIG;
    ULONG& next = kind == ObjectKind::Attachment ? nextAttachment : nextRecipient;
    Object object;
    object.number = next;
    Collection(kind)->push_back(std::move(object));
    *number = next++;
    return S_OK;
  }
  HRESULT DeleteObject(ObjectKind kind, ULONG number) {
    std::vector<Object>* objects = Collection(kind);
    for (auto it = objects->begin(); it != objects->end(); ++it) {
      if (it->number != number) continue;
      if (streaming && streamKind == kind && streamNumber == number) Cancel();
      for (auto& entry : it->properties) DropValue(&entry.second);
      objects->erase(it);
      return S_OK;
    }
    return MAPI_E_NOT_FOUND;
  }

  HRESULT WriteObject(EntryId storage, const Object& object, const std::vector<uint8_t>& header);
  HRESULT Lay(uint64_t* fileSize, const wchar_t* finalPath);
};

HRESULT MessageWriter::Impl::WriteObject(EntryId storage, const Object& object, const std::vector<uint8_t>& header) {
  std::vector<uint8_t> stream(header);
  stream.reserve(header.size() + object.properties.size() * msg::kPropertyEntryBytes);
  for (const auto& entry : object.properties) {
    const StoredValue& stored = entry.second;
    const ULONG tag = stored.value.tag;
    const ULONG type = PROP_TYPE(tag);
    uint8_t record[msg::kPropertyEntryBytes] = {};
    cfb::Put32(record, tag);
    cfb::Put32(record + 4, msg::kPropertyFlags);
    if (IsStreamedType(type)) {
      uint64_t size = stored.content != kNoContent ? file.ContentSize(stored.content) : stored.value.bytes.size();
      // String sizes count the terminator the stream leaves out.
      if (type == PT_UNICODE) size += 2;
      if (type == PT_STRING8) size += 1;
      if (size > 0xFFFFFFFFu) return STG_E_DOCFILETOOLARGE;
      cfb::Put32(record + 8, static_cast<uint32_t>(size));
      const std::wstring name = msg::ValueStreamName(tag);
      const HRESULT hr = stored.content != kNoContent
                             ? file.AddStream(storage, name.c_str(), stored.content)
                             : file.AddStream(storage, name.c_str(), stored.value.bytes.data(),
                                              stored.value.bytes.size());
      if (FAILED(hr)) return hr;
    } else {
      const size_t bytes = FixedValueBytes(type);
      const uint64_t mask = bytes >= 8 ? ~0ull : ((1ull << (8 * bytes)) - 1);
      cfb::Put64(record + 8, stored.value.fixed & mask);
    }
    stream.insert(stream.end(), record, record + sizeof record);
  }
  return file.AddStream(storage, msg::kPropertiesStream, stream.data(), stream.size());
}

HRESULT MessageWriter::Impl::Lay(uint64_t* fileSize, const wchar_t* finalPath) {
  bool unicode = false;
  auto scan = [&unicode](const Object& object) {
    for (const auto& entry : object.properties) unicode |= PROP_TYPE(entry.second.value.tag) == PT_UNICODE;
  };
  scan(message);
  for (const Object& object : attachments) scan(object);
  for (const Object& object : recipients) scan(object);
  const ULONG maskId = PROP_ID(msg::kStoreSupportMaskTag);
  if (unicode && message.properties.find(maskId) == message.properties.end()) {
    StoredValue mask;
    mask.value = LongProperty(msg::kStoreSupportMaskTag, static_cast<int32_t>(msg::kStoreUnicodeOk));
    message.properties.emplace(maskId, std::move(mask));
  }
  auto number = [](Object* object, ULONG tag) {
    if (object->properties.find(PROP_ID(tag)) != object->properties.end()) return;
    StoredValue value;
    value.value = LongProperty(tag, static_cast<int32_t>(object->number));
    object->properties.emplace(PROP_ID(tag), std::move(value));
  };
  for (Object& object : attachments) number(&object, msg::kAttachNumberTag);
  for (Object& object : recipients) number(&object, msg::kRowIdTag);

  HRESULT hr = file.SetClassId(kRootEntry, msg::kMessageClassId);
  if (FAILED(hr)) return hr;
  // Storages are numbered densely in creation order; the counts say how many.
  std::vector<uint8_t> header(msg::kMessageHeaderBytes, 0);
  cfb::Put32(&header[8], static_cast<uint32_t>(recipients.size()));    // next recipient id
  cfb::Put32(&header[12], static_cast<uint32_t>(attachments.size()));  // next attachment id
  cfb::Put32(&header[16], static_cast<uint32_t>(recipients.size()));
  cfb::Put32(&header[20], static_cast<uint32_t>(attachments.size()));
  hr = WriteObject(kRootEntry, message, header);
  if (FAILED(hr)) return hr;

  EntryId named = 0;
  hr = file.AddStorage(kRootEntry, msg::kNamedPropertyStorage, &named);
  if (FAILED(hr)) return hr;
  for (uint32_t tag : msg::kNamedPropertyStreamTags) {
    hr = file.AddStream(named, msg::ValueStreamName(tag).c_str(), nullptr, 0);
    if (FAILED(hr)) return hr;
  }

  const std::vector<uint8_t> subHeader(msg::kSubObjectHeaderBytes, 0);
  auto writeAll = [&](const std::vector<Object>& objects, const wchar_t* prefix) -> HRESULT {
    for (size_t i = 0; i < objects.size(); ++i) {
      EntryId storage = 0;
      const std::wstring name = prefix + msg::Hex8(static_cast<uint32_t>(i));
      HRESULT result = file.AddStorage(kRootEntry, name.c_str(), &storage);
      if (SUCCEEDED(result)) result = WriteObject(storage, objects[i], subHeader);
      if (FAILED(result)) return result;
    }
    return S_OK;
  };
  hr = writeAll(recipients, msg::kRecipientPrefix);
  if (FAILED(hr)) return hr;
  hr = writeAll(attachments, msg::kAttachmentPrefix);
  if (FAILED(hr)) return hr;
  return file.Finish(fileSize, finalPath);
}

bool MessageWriter::Fits(uint64_t moreBytes, uint64_t otherBytes, uint32_t otherValues) const noexcept {
  if (!impl_) return false;
  // Values kept for Finish: their property entries, their bytes and a
  // directory entry for each streamed one; a storage and a property stream
  // per object; the named-property storage and its three streams.
  uint64_t pending = otherBytes + 16ull * otherValues;
  uint32_t entries = 4 + otherValues;
  auto add = [&](const Object& object) {
    pending += msg::kMessageHeaderBytes + msg::kPropertyEntryBytes * object.properties.size();
    entries += 2;
    for (const auto& entry : object.properties) {
      if (!IsStreamedType(PROP_TYPE(entry.second.value.tag))) continue;
      ++entries;
      if (entry.second.content == kNoContent) pending += entry.second.value.bytes.size();
    }
  };
  add(impl_->message);
  for (const Object& object : impl_->attachments) add(object);
  for (const Object& object : impl_->recipients) add(object);
  return impl_->file.ProjectedSize(moreBytes + pending, entries) <= CompoundFileWriter::kMaxFileBytes;
}

MessageWriter::MessageWriter() noexcept = default;
MessageWriter::~MessageWriter() { Abandon(); }

bool MessageWriter::IsOpen() const noexcept { return impl_ != nullptr; }

HRESULT MessageWriter::Create(const wchar_t* path, unsigned compoundFileVersion, bool markForDeletion) noexcept {
  if (impl_) return E_UNEXPECTED;
  try {
    std::unique_ptr<Impl> impl(new Impl);
    const HRESULT hr = impl->file.Create(path, compoundFileVersion, markForDeletion);
    if (FAILED(hr)) return hr;
    impl_ = std::move(impl);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT MessageWriter::SetProperty(ObjectRef object, const SPropValue& value) noexcept {
  if (!impl_) return E_UNEXPECTED;
  Property converted;
  const HRESULT hr = PropertyFromSPropValue(value, &converted);
  if (FAILED(hr)) return hr;
  return SetProperty(object, converted);
}

HRESULT MessageWriter::SetProperty(ObjectRef object, const Property& value) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (FAILED(impl_->failure)) return impl_->failure;
  const ULONG type = PROP_TYPE(value.tag);
  if (!IsWritableType(type)) return MAPI_E_INVALID_TYPE;
  if (type == PT_CLSID && value.bytes.size() != sizeof(GUID)) return E_INVALIDARG;
  if (PROP_ID(value.tag) == PROP_ID_NULL || PROP_ID(value.tag) == PROP_ID_INVALID) return E_INVALIDARG;
  Object* target = impl_->Find(object);
  if (!target) return MAPI_E_NOT_FOUND;
  try {
    StoredValue stored;
    stored.value = value;
    impl_->Store(target, std::move(stored));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT MessageWriter::DeleteProperty(ObjectRef object, ULONG tag) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (FAILED(impl_->failure)) return impl_->failure;
  Object* target = impl_->Find(object);
  if (!target) return MAPI_E_NOT_FOUND;
  auto found = target->properties.find(PROP_ID(tag));
  if (found == target->properties.end()) return MAPI_E_NOT_FOUND;
  impl_->DropValue(&found->second);
  target->properties.erase(found);
  return S_OK;
}

HRESULT MessageWriter::CreateAttachment(ULONG* number) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (!number) return E_INVALIDARG;
  if (FAILED(impl_->failure)) return impl_->failure;
  try {
    return impl_->CreateObject(ObjectKind::Attachment, number);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT MessageWriter::DeleteAttachment(ULONG number) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (FAILED(impl_->failure)) return impl_->failure;
  return impl_->DeleteObject(ObjectKind::Attachment, number);
}

HRESULT MessageWriter::CreateRecipient(ULONG* number) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (!number) return E_INVALIDARG;
  if (FAILED(impl_->failure)) return impl_->failure;
  try {
    return impl_->CreateObject(ObjectKind::Recipient, number);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT MessageWriter::DeleteRecipient(ULONG number) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (FAILED(impl_->failure)) return impl_->failure;
  return impl_->DeleteObject(ObjectKind::Recipient, number);
}

HRESULT MessageWriter::BeginValueStream(ObjectRef object, ULONG tag) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (FAILED(impl_->failure)) return impl_->failure;
  if (impl_->streaming) return E_UNEXPECTED;
  const ULONG type = PROP_TYPE(tag);
  if (type != PT_BINARY && type != PT_UNICODE && type != PT_STRING8) return MAPI_E_INVALID_TYPE;
  if (PROP_ID(tag) == PROP_ID_NULL || PROP_ID(tag) == PROP_ID_INVALID) return E_INVALIDARG;
  if (!impl_->Find(object)) return MAPI_E_NOT_FOUND;
  ContentId content = kNoContent;
  const HRESULT hr = impl_->file.BeginContent(&content);
  if (FAILED(hr)) return hr;
  impl_->streaming = true;
  impl_->streamKind = object.kind;
  impl_->streamNumber = object.number;
  impl_->streamTag = tag;
  impl_->streamContent = content;
  return S_OK;
}

HRESULT MessageWriter::WriteValueStream(const void* data, ULONG size) noexcept {
  if (!impl_ || !impl_->streaming) return E_UNEXPECTED;
  return impl_->file.WriteContent(data, size);
}

HRESULT MessageWriter::EndValueStream() noexcept {
  if (!impl_ || !impl_->streaming) return E_UNEXPECTED;
  HRESULT hr = impl_->file.EndContent();
  if (FAILED(hr)) return hr;
  impl_->streaming = false;
  Object* target = impl_->Find(ObjectRef(impl_->streamKind, impl_->streamNumber));
  try {
    StoredValue stored;
    stored.value.tag = impl_->streamTag;
    stored.content = impl_->streamContent;
    impl_->Store(target, std::move(stored));
    return S_OK;
  } catch (const std::bad_alloc&) {
    impl_->file.DiscardContent(impl_->streamContent);
    return E_OUTOFMEMORY;
  }
}

HRESULT MessageWriter::CancelValueStream() noexcept {
  if (!impl_) return E_UNEXPECTED;
  return impl_->Cancel();
}

HRESULT MessageWriter::Finish(uint64_t* fileSize, const wchar_t* finalPath) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (FAILED(impl_->failure)) return impl_->failure;
  if (impl_->streaming) return E_UNEXPECTED;
  HRESULT hr = E_OUTOFMEMORY;
  try {
    hr = impl_->Lay(fileSize, finalPath);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    impl_->failure = hr;
    return hr;
  }
  impl_.reset();
  return S_OK;
}

void MessageWriter::Abandon() noexcept {
  if (!impl_) return;
  impl_->file.Abandon();
  impl_.reset();
}

}  // namespace msgfile
