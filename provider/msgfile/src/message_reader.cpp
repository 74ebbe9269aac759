#include <msgfile/message_reader.h>

#include <mapicode.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>

#include "compound_file_layout.h"
#include "message_layout.h"

namespace msgfile {

namespace {
// Property streams hold 16 bytes per property; this is far beyond any real one.
constexpr uint64_t kPropertyStreamLimit = 16u << 20;

bool ParseHex8(const std::wstring& text, size_t from, ULONG* value) {
  if (text.size() != from + 8) return false;
  ULONG result = 0;
  for (size_t i = from; i < text.size(); ++i) {
    const wchar_t c = text[i];
    ULONG digit = 0;
    if (c >= L'0' && c <= L'9') {
      digit = static_cast<ULONG>(c - L'0');
    } else if (c >= L'A' && c <= L'F') {
      digit = static_cast<ULONG>(c - L'A' + 10);
    } else if (c >= L'a' && c <= L'f') {
      digit = static_cast<ULONG>(c - L'a' + 10);
    } else {
      return false;
    }
    result = (result << 4) | digit;
  }
  *value = result;
  return true;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}
}  // namespace

MessageReader::MessageReader() noexcept = default;
MessageReader::~MessageReader() = default;

void MessageReader::Close() noexcept {
  file_.Close();
  header_ = MessageHeader();
  message_ = Object();
  attachments_.clear();
  recipients_.clear();
}

HRESULT MessageReader::LoadObject(EntryId storage, size_t headerBytes, Object* object, uint8_t* header) noexcept {
  try {
    std::vector<EntryId> children;
    HRESULT hr = file_.ListChildren(storage, &children);
    if (FAILED(hr)) return hr;
    std::vector<std::pair<std::wstring, EntryId>> streams;
    EntryId propertiesStream = kNoEntry;
    for (EntryId child : children) {
      EntryInfo info;
      hr = file_.GetEntry(child, &info);
      if (FAILED(hr)) return hr;
      if (info.type != EntryType::Stream) continue;
      if (cfb::CompareNames(info.name, msg::kPropertiesStream) == 0) propertiesStream = child;
      streams.emplace_back(std::move(info.name), child);
    }
    if (propertiesStream == kNoEntry) return MAPI_E_CORRUPT_DATA;
    std::vector<uint8_t> bytes;
    hr = file_.ReadStream(propertiesStream, kPropertyStreamLimit, &bytes);
    if (FAILED(hr)) return hr;
    if (bytes.size() < headerBytes) return MAPI_E_CORRUPT_DATA;
    if (header) std::copy(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(headerBytes), header);

    object->storage = storage;
    object->properties.clear();
    for (size_t at = headerBytes; at + msg::kPropertyEntryBytes <= bytes.size(); at += msg::kPropertyEntryBytes) {
      PropertyEntry entry;
      entry.tag = cfb::Get32(&bytes[at]);
      entry.flags = cfb::Get32(&bytes[at + 4]);
      const ULONG type = PROP_TYPE(entry.tag);
      if (IsStreamedType(type)) {
        const std::wstring name = msg::ValueStreamName(entry.tag);
        for (const auto& stream : streams) {
          if (cfb::CompareNames(stream.first, name) != 0) continue;
          EntryInfo info;
          hr = file_.GetEntry(stream.second, &info);
          if (FAILED(hr)) return hr;
          entry.stream = stream.second;
          entry.size = info.size;
          break;
        }
      } else {
        const size_t size = FixedValueBytes(type);
        const uint64_t mask = (size == 0 || size >= 8) ? ~0ull : ((1ull << (8 * size)) - 1);
        entry.fixed = cfb::Get64(&bytes[at + 8]) & mask;
      }
      object->properties.push_back(entry);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT MessageReader::Open(const wchar_t* path) noexcept {
  if (file_.IsOpen()) return E_UNEXPECTED;
  HRESULT hr = file_.Open(path);
  if (FAILED(hr)) return hr;
  uint8_t header[msg::kMessageHeaderBytes];
  hr = LoadObject(kRootEntry, msg::kMessageHeaderBytes, &message_, header);
  if (SUCCEEDED(hr)) {
    header_.nextRecipientId = cfb::Get32(header + 8);
    header_.nextAttachmentId = cfb::Get32(header + 12);
    header_.recipientCount = cfb::Get32(header + 16);
    header_.attachmentCount = cfb::Get32(header + 20);
  }
  if (SUCCEEDED(hr)) {
    try {
      std::vector<EntryId> children;
      hr = file_.ListChildren(kRootEntry, &children);
      std::vector<std::pair<ULONG, EntryId>> attachmentStorages;
      std::vector<std::pair<ULONG, EntryId>> recipientStorages;
      for (size_t i = 0; SUCCEEDED(hr) && i < children.size(); ++i) {
        EntryInfo info;
        hr = file_.GetEntry(children[i], &info);
        if (FAILED(hr) || info.type != EntryType::Storage) continue;
        ULONG number = 0;
        if (StartsWith(info.name, msg::kAttachmentPrefix) &&
            ParseHex8(info.name, std::char_traits<wchar_t>::length(msg::kAttachmentPrefix), &number)) {
          attachmentStorages.emplace_back(number, children[i]);
        } else if (StartsWith(info.name, msg::kRecipientPrefix) &&
                   ParseHex8(info.name, std::char_traits<wchar_t>::length(msg::kRecipientPrefix), &number)) {
          recipientStorages.emplace_back(number, children[i]);
        }
      }
      std::sort(attachmentStorages.begin(), attachmentStorages.end());
      std::sort(recipientStorages.begin(), recipientStorages.end());
      attachments_.resize(attachmentStorages.size());
      for (size_t i = 0; SUCCEEDED(hr) && i < attachmentStorages.size(); ++i) {
        hr = LoadObject(attachmentStorages[i].second, msg::kSubObjectHeaderBytes, &attachments_[i], nullptr);
      }
      recipients_.resize(recipientStorages.size());
      for (size_t i = 0; SUCCEEDED(hr) && i < recipientStorages.size(); ++i) {
        hr = LoadObject(recipientStorages[i].second, msg::kSubObjectHeaderBytes, &recipients_[i], nullptr);
      }
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  }
  if (FAILED(hr)) Close();
  return hr;
}

const MessageReader::Object* MessageReader::Find(ObjectRef object) const noexcept {
  if (!file_.IsOpen()) return nullptr;
  switch (object.kind) {
    case ObjectKind::Message:
      return &message_;
    case ObjectKind::Attachment:
      return object.number < attachments_.size() ? &attachments_[object.number] : nullptr;
    case ObjectKind::Recipient:
      return object.number < recipients_.size() ? &recipients_[object.number] : nullptr;
  }
  return nullptr;
}

const std::vector<PropertyEntry>* MessageReader::Properties(ObjectRef object) const noexcept {
  const Object* found = Find(object);
  return found ? &found->properties : nullptr;
}

const PropertyEntry* MessageReader::FindEntry(ObjectRef object, ULONG tag) const noexcept {
  const Object* found = Find(object);
  if (!found) return nullptr;
  const bool anyType = PROP_TYPE(tag) == kAnyPropertyType;
  for (const PropertyEntry& entry : found->properties) {
    if (entry.tag == tag || (anyType && PROP_ID(entry.tag) == PROP_ID(tag))) return &entry;
  }
  return nullptr;
}

HRESULT MessageReader::GetProperty(ObjectRef object, ULONG tag, Property* value, uint64_t limit) const noexcept {
  if (!value) return E_INVALIDARG;
  if (!file_.IsOpen()) return E_UNEXPECTED;
  const PropertyEntry* entry = FindEntry(object, tag);
  if (!entry) return MAPI_E_NOT_FOUND;
  const ULONG type = PROP_TYPE(entry->tag);
  if ((type & MV_FLAG) || type == PT_OBJECT) return MAPI_E_NO_SUPPORT;
  Property result;
  result.tag = entry->tag;
  if (!IsStreamedType(type)) {
    result.fixed = entry->fixed;
    *value = std::move(result);
    return S_OK;
  }
  if (entry->stream != kNoEntry) {
    const HRESULT hr = file_.ReadStream(entry->stream, limit, &result.bytes);
    if (FAILED(hr)) return hr;
  }
  // Some writers store the terminator; the value does not include it.
  std::vector<uint8_t>& bytes = result.bytes;
  if (type == PT_UNICODE && bytes.size() >= 2 && bytes.size() % 2 == 0 && bytes[bytes.size() - 1] == 0 &&
      bytes[bytes.size() - 2] == 0) {
    bytes.resize(bytes.size() - 2);
  } else if (type == PT_STRING8 && !bytes.empty() && bytes.back() == 0) {
    bytes.pop_back();
  }
  *value = std::move(result);
  return S_OK;
}

HRESULT MessageReader::OpenValueStream(ObjectRef object, ULONG tag, StreamReader* stream) const noexcept {
  if (!stream) return E_INVALIDARG;
  if (!file_.IsOpen()) return E_UNEXPECTED;
  const PropertyEntry* entry = FindEntry(object, tag);
  if (!entry || entry->stream == kNoEntry) return MAPI_E_NOT_FOUND;
  return file_.OpenStream(entry->stream, stream);
}

}  // namespace msgfile
