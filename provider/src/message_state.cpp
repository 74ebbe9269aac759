#include "message_state.h"

#include <mapicode.h>
#include <mapitags.h>

#include <algorithm>
#include <iterator>

#include "properties.h"
#include "property_streams.h"
#include "property_values.h"

namespace provider {
namespace {

using msgfile::ObjectKind;
using msgfile::ObjectRef;

constexpr ULONG kComputedMessageTags[] = {
    PR_ENTRYID,      PR_RECORD_KEY,   PR_INSTANCE_KEY, PR_STORE_ENTRYID,       PR_STORE_RECORD_KEY,
    PR_PARENT_ENTRYID, PR_OBJECT_TYPE, PR_MESSAGE_SIZE, PR_HASATTACH,          PR_ACCESS,
    PR_ACCESS_LEVEL, PR_MESSAGE_ATTACHMENTS, PR_MESSAGE_RECIPIENTS};
constexpr ULONG kComputedAttachmentTags[] = {PR_ATTACH_NUM,   PR_ATTACH_SIZE, PR_OBJECT_TYPE, PR_RECORD_KEY,
                                             PR_INSTANCE_KEY, PR_ACCESS,      PR_ACCESS_LEVEL};

constexpr ULONG kSaveFlags = KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE | MAPI_DEFERRED_ERRORS;
constexpr ULONG kReadFlagFlags = SUPPRESS_RECEIPT | CLEAR_READ_FLAG | MAPI_DEFERRED_ERRORS | GENERATE_RECEIPT_ONLY |
                                 CLEAR_RN_PENDING | CLEAR_NRN_PENDING;
constexpr ULONG kComputedMessageFlags = MSGFLAG_HASATTACH | MSGFLAG_ASSOCIATED;

bool IsComputed(ObjectKind kind, ULONG tag) {
  auto matches = [tag](ULONG computed) { return PROP_ID(computed) == PROP_ID(tag); };
  if (kind == ObjectKind::Message) return std::any_of(std::begin(kComputedMessageTags), std::end(kComputedMessageTags), matches);
  return std::any_of(std::begin(kComputedAttachmentTags), std::end(kComputedAttachmentTags), matches);
}

bool IsStreamable(ULONG tag) {
  ULONG type = PROP_TYPE(tag);
  return type == PT_BINARY || type == PT_UNICODE || type == PT_STRING8;
}

bool IsString(ULONG tag) { return PROP_TYPE(tag) == PT_UNICODE || PROP_TYPE(tag) == PT_STRING8; }

bool SameKind(ULONG storedTag, ULONG requestedTag) {
  return PROP_TYPE(storedTag) == PROP_TYPE(requestedTag) || (IsString(storedTag) && IsString(requestedTag));
}

Value NotInline(ULONG tag) { return Value::Long(CHANGE_PROP_TYPE(tag, PT_ERROR), MAPI_E_NOT_ENOUGH_MEMORY); }

int64_t FileTimeNumber(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

HRESULT ReaderResult(HRESULT hr) {
  if (hr == STG_E_FILENOTFOUND || hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
      hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
    return MAPI_E_NOT_FOUND;
  if (hr == E_OUTOFMEMORY) return MAPI_E_NOT_ENOUGH_MEMORY;
  if (hr == MAPI_E_NOT_FOUND || hr == MAPI_E_NO_SUPPORT || hr == MAPI_E_TOO_BIG) return hr;
  return MAPI_E_CORRUPT_DATA;
}

// Room kept for what a save adds besides the caller's values.
constexpr uint64_t kSaveReserveBytes = 64u << 10;
constexpr uint32_t kSaveReserveValues = 16;

uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

void PropertySet::Remove(ULONG tag) {
  values.erase(std::remove_if(values.begin(), values.end(), [tag](const Value& v) { return PropId(v.tag) == PropId(tag); }),
               values.end());
  inFile.erase(std::remove_if(inFile.begin(), inFile.end(), [tag](const InFile& f) { return PropId(f.tag) == PropId(tag); }),
               inFile.end());
}

// ---- creating and opening ----

HRESULT MessageState::Create(const std::shared_ptr<StoreState>& store, const StoreFolder& folder, bool associated,
                             std::shared_ptr<MessageState>& out) {
  std::shared_ptr<MessageState> state(new MessageState());
  state->store_ = store;
  state->folder_ = folder;
  state->associated_ = associated;
  std::lock_guard<std::mutex> guard(store->lock);
  StoreResult result = store->store->NewDraft(folder, associated, state->draft_);
  if (result != StoreResult::Ok) return StoreResultToHresult(result);
  out = std::move(state);
  return S_OK;
}

HRESULT MessageState::Open(const std::shared_ptr<StoreState>& store, const StoreFolder& folder, const ObjectId& id,
                           std::shared_ptr<MessageState>& out) {
  std::shared_ptr<MessageState> state(new MessageState());
  state->store_ = store;
  state->folder_ = folder;
  state->id_ = id;
  state->phase_ = Phase::Saved;
  std::wstring path;
  {
    std::lock_guard<std::mutex> guard(store->lock);
    StoreResult result = store->store->SavedMessageFile(folder, id, path);
    if (result != StoreResult::Ok) return StoreResultToHresult(result);
  }
  HRESULT hr = state->LoadFromFile(path);
  if (FAILED(hr)) return hr;
  out = std::move(state);
  return S_OK;
}

HRESULT MessageState::EnsureReader() {
  if (reader_) return S_OK;
  // A message that went to a server is not read back.
  if (path_.empty()) return MAPI_E_NO_SUPPORT;
  std::unique_ptr<msgfile::MessageReader> reader(new msgfile::MessageReader());
  HRESULT hr = reader->Open(path_.c_str());
  if (FAILED(hr)) return ReaderResult(hr);
  reader_ = std::move(reader);
  return S_OK;
}

HRESULT MessageState::LoadFromFile(const std::wstring& path) {
  path_ = path;
  HRESULT hr = EnsureReader();
  if (FAILED(hr)) return hr;
  fileSize_ = FileSize(path);
  auto load = [this](ObjectRef object, ObjectKind kind, PropertySet& set) -> HRESULT {
    const std::vector<msgfile::PropertyEntry>* entries = reader_->Properties(object);
    if (!entries) return MAPI_E_CORRUPT_DATA;
    for (const msgfile::PropertyEntry& entry : *entries) {
      const ULONG type = PROP_TYPE(entry.tag);
      if ((type & MV_FLAG) || type == PT_OBJECT || IsComputed(kind, entry.tag)) continue;
      if (msgfile::IsStreamedType(type) && entry.size > kLargestInlineValue) {
        set.inFile.push_back({entry.tag, entry.size});
        continue;
      }
      msgfile::Property property;
      HRESULT got = reader_->GetProperty(object, entry.tag, &property);
      if (FAILED(got)) return ReaderResult(got);
      set.values.push_back(ValueFromFileProperty(property));
    }
    return S_OK;
  };
  hr = load(ObjectRef::Message(), ObjectKind::Message, message_);
  if (FAILED(hr)) return hr;
  const Value* flags = FindValue(message_.values, PR_MESSAGE_FLAGS);
  if (flags && PROP_TYPE(flags->tag) == PT_LONG) {
    associated_ = (static_cast<ULONG>(flags->number) & MSGFLAG_ASSOCIATED) != 0;
    messageFlags_ = static_cast<ULONG>(flags->number) & ~kComputedMessageFlags;
  }
  message_.Remove(PR_MESSAGE_FLAGS);
  for (ULONG i = 0; i < reader_->AttachmentCount(); ++i) {
    AttachmentRecord record;
    record.fileIndex = i;
    record.number = i;
    record.saved = true;
    msgfile::Property number;
    if (SUCCEEDED(reader_->GetProperty(ObjectRef::Attachment(i), PR_ATTACH_NUM, &number)))
      record.number = static_cast<ULONG>(msgfile::LongValue(number));
    hr = load(ObjectRef::Attachment(i), ObjectKind::Attachment, record.properties);
    if (FAILED(hr)) return hr;
    attachments_.push_back(std::move(record));
  }
  return S_OK;
}

// ---- property sets ----

bool MessageState::Writable() {
  std::lock_guard<std::mutex> guard(lock_);
  return phase_ == Phase::Composing;
}

AttachmentRecord* MessageState::Attachment(ULONG number) {
  for (AttachmentRecord& record : attachments_)
    if (record.number == number) return &record;
  return nullptr;
}

PropertySet* MessageState::Properties(ObjectRef object) {
  if (object.kind == ObjectKind::Message) return &message_;
  AttachmentRecord* record = object.kind == ObjectKind::Attachment ? Attachment(object.number) : nullptr;
  return record ? &record->properties : nullptr;
}

ObjectRef MessageState::FileObject(ObjectRef object) {
  if (object.kind != ObjectKind::Attachment) return object;
  AttachmentRecord* record = Attachment(object.number);
  return ObjectRef::Attachment(record ? record->fileIndex : object.number);
}

void MessageState::RemoveValue(ObjectRef object, PropertySet& set, ULONG tag) {
  if (phase_ == Phase::Composing) {
    for (const PropertySet::InFile& f : set.inFile)
      if (PropId(f.tag) == PropId(tag)) draft_->DeleteStreamedValue(object, f.tag);
  }
  set.Remove(tag);
}

uint64_t MessageState::AttachmentSize(const AttachmentRecord& record) const {
  uint64_t size = 0;
  for (const Value& value : record.properties.values) size += ValueBytes(value);
  for (const PropertySet::InFile& f : record.properties.inFile) size += f.size;
  return size;
}

std::vector<uint8_t> MessageState::EntryIdBytes() const {
  EntryId entry;
  entry.kind = EntryKind::Message;
  entry.store = store_->storeId;
  entry.folder = folder_.id;
  entry.object = id_;
  return EncodeEntryId(entry);
}

void MessageState::ComputedValues(ObjectRef object, std::vector<Value>& out) {
  const bool composing = phase_ == Phase::Composing;
  if (object.kind == ObjectKind::Attachment) {
    const AttachmentRecord* record = Attachment(object.number);
    out.push_back(Value::Long(PR_ATTACH_NUM, record->number));
    out.push_back(Value::Long(PR_ATTACH_SIZE, static_cast<int64_t>(std::min<uint64_t>(AttachmentSize(*record), 0x7FFFFFFF))));
    out.push_back(Value::Long(PR_OBJECT_TYPE, MAPI_ATTACH));
    out.push_back(Value::Long(PR_ACCESS_LEVEL, composing ? MAPI_MODIFY : 0));
    return;
  }
  bool hasAttachments = std::any_of(attachments_.begin(), attachments_.end(), [](const AttachmentRecord& r) { return r.saved; });
  uint64_t size = fileSize_;
  if (composing) {
    size = 0;
    for (const Value& value : message_.values) size += ValueBytes(value);
    for (const PropertySet::InFile& f : message_.inFile) size += f.size;
    for (const AttachmentRecord& record : attachments_)
      if (record.saved) size += AttachmentSize(record);
  }
  ULONG flags = messageFlags_ | (hasAttachments ? MSGFLAG_HASATTACH : 0) | (associated_ ? MSGFLAG_ASSOCIATED : 0);
  out.push_back(Value::Long(PR_OBJECT_TYPE, MAPI_MESSAGE));
  out.push_back(Value::Long(PR_MESSAGE_FLAGS, static_cast<LONG>(flags)));
  out.push_back(Value::Bool(PR_HASATTACH, hasAttachments));
  out.push_back(Value::Long(PR_MESSAGE_SIZE, static_cast<int64_t>(std::min<uint64_t>(size, 0x7FFFFFFF))));
  out.push_back(Value::Binary(PR_PARENT_ENTRYID, FolderEntryId(*store_, folder_.id)));
  out.push_back(Value::Binary(PR_STORE_ENTRYID, store_->StoreEntryId()));
  out.push_back(Value::Binary(PR_STORE_RECORD_KEY, store_->storeId));
  out.push_back(Value::Long(PR_ACCESS, MAPI_ACCESS_READ | (composing ? MAPI_ACCESS_MODIFY : 0)));
  out.push_back(Value::Long(PR_ACCESS_LEVEL, composing ? MAPI_MODIFY : 0));
  if (phase_ == Phase::Saved) {
    // Identity exists once the message does.
    out.push_back(Value::Binary(PR_ENTRYID, EntryIdBytes()));
    out.push_back(Value::Binary(PR_RECORD_KEY, id_));
  }
}

HRESULT MessageState::View(ObjectRef object, std::vector<Value>& values, std::vector<ULONG>& tags) {
  std::lock_guard<std::mutex> guard(lock_);
  PropertySet* set = Properties(object);
  if (!set) return MAPI_E_NOT_FOUND;
  values = set->values;
  for (const PropertySet::InFile& f : set->inFile) values.push_back(NotInline(f.tag));
  ComputedValues(object, values);
  tags.clear();
  for (const Value& value : set->values) tags.push_back(value.tag);
  for (const PropertySet::InFile& f : set->inFile) tags.push_back(f.tag);
  for (size_t i = set->values.size() + set->inFile.size(); i < values.size(); ++i) tags.push_back(values[i].tag);
  return S_OK;
}

HRESULT MessageState::SetProps(ObjectRef object, ULONG count, const SPropValue* props,
                               std::vector<PropertyProblem>& problems) {
  if (count && !props) return MAPI_E_INVALID_PARAMETER;
  std::lock_guard<std::mutex> guard(lock_);
  if (phase_ != Phase::Composing) return MAPI_E_NO_ACCESS;
  PropertySet* set = Properties(object);
  if (!set) return MAPI_E_NOT_FOUND;
  // Every value is checked before any is taken, so a bad pointer changes nothing.
  std::vector<Value> accepted;
  for (ULONG i = 0; i < count; ++i) {
    const ULONG tag = props[i].ulPropTag;
    const ULONG type = PROP_TYPE(tag);
    if (type == PT_ERROR || type == PT_NULL) continue;  // a GetProps result may be handed back whole
    SCODE refused = S_OK;
    Value value;
    if (PROP_ID(tag) == PROP_ID_NULL || PROP_ID(tag) >= 0x8000) {
      refused = MAPI_E_UNEXPECTED_ID;  // no named properties: nothing maps them
    } else if (IsComputed(object.kind, tag)) {
      refused = MAPI_E_COMPUTED;
    } else {
      HRESULT hr = ValueFromPropValue(props[i], value);
      if (hr == MAPI_E_INVALID_PARAMETER) return hr;
      if (FAILED(hr)) refused = hr;
      if (SUCCEEDED(hr) && object.kind == ObjectKind::Message && PROP_ID(tag) == PROP_ID(PR_MESSAGE_FLAGS) &&
          type != PT_LONG)
        refused = MAPI_E_INVALID_TYPE;
    }
    if (FAILED(refused)) {
      problems.push_back({i, tag, refused});
      continue;
    }
    accepted.push_back(std::move(value));
  }
  for (Value& value : accepted) {
    if (streamToken_ && streamObject_.kind == object.kind && streamObject_.number == object.number &&
        PropId(streamTag_) == PropId(value.tag)) {
      draft_->CancelValueStream();  // the stream's writes now go nowhere
      streamToken_ = 0;
    }
    if (object.kind == ObjectKind::Message && PropId(value.tag) == PropId(PR_MESSAGE_FLAGS)) {
      messageFlags_ = static_cast<ULONG>(value.number) & ~kComputedMessageFlags;
      continue;
    }
    RemoveValue(object, *set, value.tag);
    set->values.push_back(std::move(value));
  }
  return S_OK;
}

HRESULT MessageState::DeleteProps(ObjectRef object, const SPropTagArray& tags, std::vector<PropertyProblem>& problems) {
  std::lock_guard<std::mutex> guard(lock_);
  if (phase_ != Phase::Composing) return MAPI_E_NO_ACCESS;
  PropertySet* set = Properties(object);
  if (!set) return MAPI_E_NOT_FOUND;
  for (ULONG i = 0; i < tags.cValues; ++i) {
    const ULONG tag = tags.aulPropTag[i];
    if (IsComputed(object.kind, tag) || (object.kind == ObjectKind::Message && PropId(tag) == PropId(PR_MESSAGE_FLAGS))) {
      problems.push_back({i, tag, MAPI_E_COMPUTED});
      continue;
    }
    bool present = FindValue(set->values, tag) != nullptr ||
                   std::any_of(set->inFile.begin(), set->inFile.end(),
                               [tag](const PropertySet::InFile& f) { return PropId(f.tag) == PropId(tag); });
    if (!present) {
      problems.push_back({i, tag, MAPI_E_NOT_FOUND});
      continue;
    }
    RemoveValue(object, *set, tag);
  }
  return S_OK;
}

// ---- streams ----

HRESULT MessageState::OpenPropertyStream(ObjectRef object, ULONG tag, ULONG flags, IStream** stream) {
  *stream = nullptr;
  if (!IsStreamable(tag)) return MAPI_E_NO_SUPPORT;
  std::lock_guard<std::mutex> guard(lock_);
  PropertySet* set = Properties(object);
  if (!set) return MAPI_E_NOT_FOUND;
  const Value* inMemory = FindValue(set->values, tag);
  auto inFile = std::find_if(set->inFile.begin(), set->inFile.end(),
                             [tag](const PropertySet::InFile& f) { return PropId(f.tag) == PropId(tag); });
  if (flags & MAPI_MODIFY) {
    if (phase_ != Phase::Composing || IsComputed(object.kind, tag)) return MAPI_E_NO_ACCESS;
    if (!inMemory && inFile == set->inFile.end() && !(flags & MAPI_CREATE)) return MAPI_E_NOT_FOUND;
    if (streamToken_) return MAPI_E_BUSY;  // one value is written at a time
    RemoveValue(object, *set, tag);
    HRESULT hr = draft_->BeginValueStream(object, tag);
    if (FAILED(hr)) return hr;
    streamToken_ = ++nextToken_;
    streamObject_ = object;
    streamTag_ = tag;
    streamSize_ = 0;
    *stream = new WriteStream(shared_from_this(), streamToken_);
    return S_OK;
  }
  if (inMemory) {
    if (!SameKind(inMemory->tag, tag)) return MAPI_E_NOT_FOUND;
    *stream = new ReadStream(StreamBytes(*inMemory, PROP_TYPE(tag)));
    return S_OK;
  }
  if (inFile == set->inFile.end() || PROP_TYPE(inFile->tag) != PROP_TYPE(tag)) return MAPI_E_NOT_FOUND;
  // A value streamed into a message being composed is read back once it is saved.
  if (phase_ != Phase::Saved) return MAPI_E_NO_SUPPORT;
  HRESULT hr = EnsureReader();
  if (FAILED(hr)) return hr;
  msgfile::StreamReader reader;
  hr = reader_->OpenValueStream(FileObject(object), inFile->tag, &reader);
  if (FAILED(hr)) return ReaderResult(hr);
  *stream = new ReadStream(std::move(reader));
  return S_OK;
}

bool MessageState::FitsLocked(uint64_t bytes) const {
  uint64_t pending = kSaveReserveBytes;
  uint32_t values = kSaveReserveValues;
  auto add = [&](const PropertySet& set) {
    for (const Value& value : set.values) pending += ValueBytes(value);
    values += static_cast<uint32_t>(set.values.size() + set.inFile.size());
  };
  add(message_);
  for (const AttachmentRecord& record : attachments_) add(record.properties);
  return draft_->Fits(bytes, pending, values);
}

HRESULT MessageState::StreamWrite(uint64_t token, const void* data, ULONG size) {
  std::lock_guard<std::mutex> guard(lock_);
  if (token != streamToken_) return STG_E_REVERTED;
  if (!FitsLocked(size)) return MAPI_E_TOO_BIG;
  HRESULT hr = draft_->WriteValueStream(data, size);
  if (FAILED(hr)) return hr;
  streamSize_ += size;
  return S_OK;
}

HRESULT MessageState::StreamSetSize(uint64_t token, uint64_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  if (token != streamToken_) return STG_E_REVERTED;
  // The value is written front to back: it cannot lose what it has.
  if (size < streamSize_) return STG_E_INVALIDFUNCTION;
  return FitsLocked(size - streamSize_) ? S_OK : MAPI_E_TOO_BIG;
}

void MessageState::StreamClose(uint64_t token) noexcept {
  try {
    std::lock_guard<std::mutex> guard(lock_);
    if (token == streamToken_) EndStreamLocked();
  } catch (...) {
    // Only the lock can throw here; the value stays open and the save reports it.
  }
}

HRESULT MessageState::EndStreamLocked() {
  streamToken_ = 0;
  HRESULT hr = draft_->EndValueStream();
  if (FAILED(hr)) {
    failure_ = hr;
    return hr;
  }
  PropertySet* set = Properties(streamObject_);
  if (set) {
    set->Remove(streamTag_);
    set->inFile.push_back({streamTag_, streamSize_});
  }
  return S_OK;
}

// ---- attachments ----

HRESULT MessageState::CreateAttachment(ULONG* number) {
  std::lock_guard<std::mutex> guard(lock_);
  if (phase_ != Phase::Composing) return MAPI_E_NO_ACCESS;
  HRESULT hr = draft_->CreateAttachment(number);
  if (FAILED(hr)) return hr;
  AttachmentRecord record;
  record.number = *number;
  attachments_.push_back(std::move(record));
  return S_OK;
}

HRESULT MessageState::FindAttachment(ULONG number) {
  std::lock_guard<std::mutex> guard(lock_);
  AttachmentRecord* record = Attachment(number);
  return record && record->saved ? S_OK : MAPI_E_NOT_FOUND;
}

HRESULT MessageState::DeleteAttachment(ULONG number) {
  std::lock_guard<std::mutex> guard(lock_);
  if (phase_ != Phase::Composing) return MAPI_E_NO_ACCESS;
  AttachmentRecord* record = Attachment(number);
  if (!record) return MAPI_E_NOT_FOUND;
  if (streamToken_ && streamObject_.kind == ObjectKind::Attachment && streamObject_.number == number)
    streamToken_ = 0;  // the draft drops the open value with the attachment
  draft_->DeleteAttachment(number);
  attachments_.erase(attachments_.begin() + (record - attachments_.data()));
  return S_OK;
}

HRESULT MessageState::SaveAttachment(ULONG number) {
  std::lock_guard<std::mutex> guard(lock_);
  if (phase_ != Phase::Composing) return MAPI_E_NO_ACCESS;
  AttachmentRecord* record = Attachment(number);
  if (!record) return MAPI_E_NOT_FOUND;
  record->saved = true;
  return S_OK;
}

void MessageState::ReleaseAttachment(ULONG number) {
  std::lock_guard<std::mutex> guard(lock_);
  if (phase_ != Phase::Composing) return;
  AttachmentRecord* record = Attachment(number);
  if (!record || record->saved) return;
  if (streamToken_ && streamObject_.kind == ObjectKind::Attachment && streamObject_.number == number) streamToken_ = 0;
  draft_->DeleteAttachment(number);
  attachments_.erase(attachments_.begin() + (record - attachments_.data()));
}

HRESULT MessageState::AttachmentRows(std::vector<TableRow>& rows) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const AttachmentRecord& record : attachments_) {
    if (!record.saved) continue;
    TableRow row = record.properties.values;
    ComputedValues(ObjectRef::Attachment(record.number), row);
    std::vector<uint8_t> key(4);
    for (int i = 0; i < 4; ++i) key[i] = static_cast<uint8_t>(record.number >> (8 * i));
    row.push_back(Value::Binary(PR_INSTANCE_KEY, key));
    row.push_back(Value::Binary(PR_RECORD_KEY, key));
    if (!FindValue(row, PR_RENDERING_POSITION)) row.push_back(Value::Long(PR_RENDERING_POSITION, -1));
    rows.push_back(std::move(row));
  }
  return S_OK;
}

// ---- read flag and saving ----

HRESULT MessageState::SetReadFlag(ULONG flags) {
  if (flags & ~kReadFlagFlags) return MAPI_E_UNKNOWN_FLAGS;
  if ((flags & SUPPRESS_RECEIPT) && (flags & CLEAR_READ_FLAG)) return MAPI_E_INVALID_PARAMETER;
  std::lock_guard<std::mutex> guard(lock_);
  if (phase_ != Phase::Composing) return MAPI_E_NO_ACCESS;
  if (flags & CLEAR_READ_FLAG) {
    messageFlags_ &= ~MSGFLAG_READ;
  } else if (!(flags & (GENERATE_RECEIPT_ONLY | CLEAR_RN_PENDING | CLEAR_NRN_PENDING))) {
    messageFlags_ |= MSGFLAG_READ;
  }
  return S_OK;
}

HRESULT MessageState::Save(ULONG flags) {
  if (flags & ~kSaveFlags) return MAPI_E_UNKNOWN_FLAGS;
  std::lock_guard<std::mutex> guard(lock_);
  switch (phase_) {
    case Phase::Saved: return savedHere_ ? S_OK : MAPI_E_NO_ACCESS;  // nothing can have changed since
    case Phase::Failed: return failure_;
    default: break;
  }
  HRESULT hr = SaveDraft();
  if (FAILED(hr)) {
    phase_ = Phase::Failed;
    failure_ = hr;
    draft_->Abandon();
  }
  return hr;
}

HRESULT MessageState::SaveDraft() {
  if (streamToken_) EndStreamLocked();
  if (FAILED(failure_)) return failure_;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const ULONG times[] = {PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME};
  for (ULONG tag : times)
    if (!FindValue(message_.values, tag)) message_.values.push_back(Value::Long(tag, FileTimeNumber(now)));

  // Attachments never saved are not part of the message.
  for (auto it = attachments_.begin(); it != attachments_.end();) {
    if (it->saved) {
      ++it;
      continue;
    }
    draft_->DeleteAttachment(it->number);
    it = attachments_.erase(it);
  }
  DraftContents contents;
  contents.associated = associated_;
  contents.messageFlags = messageFlags_ | (attachments_.empty() ? 0 : MSGFLAG_HASATTACH) |
                          (associated_ ? MSGFLAG_ASSOCIATED : 0);
  contents.values = &message_.values;
  ULONG fileIndex = 0;
  for (AttachmentRecord& record : attachments_) {
    contents.attachments.push_back({record.number, &record.properties.values, AttachmentSize(record)});
    record.fileIndex = fileIndex++;  // the file numbers the storages densely, in this order
  }
  SavedMessage saved;
  HRESULT hr = draft_->Save(contents, saved);
  if (FAILED(hr)) return hr;
  id_ = saved.id;
  fileSize_ = saved.size;
  path_ = saved.file;
  phase_ = Phase::Saved;
  savedHere_ = true;
  draft_.reset();
  return S_OK;
}

}  // namespace provider
