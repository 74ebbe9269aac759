#include "server_draft.h"

#include <mapicode.h>
#include <mapitags.h>

#include <algorithm>
#include <cstring>

#include <kvcommon/unique_resource.h>
#include <kvimap/mailbox_name.h>
#include <kvimap/mime_message.h>

#include "server_messages.h"
#include "text.h"

namespace provider {
namespace {

using msgfile::ObjectRef;

// Room kept for headers, part headers and boundaries.
constexpr uint64_t kMimeReserveBytes = 64u << 10;
// The largest message an IMAP4rev1 literal can carry.
constexpr uint64_t kLargestMessage = 0xFFFFFFFFull;
// A body streamed rather than set is read into memory; beyond this it is too big.
constexpr uint64_t kLargestBody = 64u << 20;

// A value's bytes: the first MiB in memory, more in a temporary file the
// system deletes when it is closed (also when the process dies). The module
// writes 4096 bytes at a time; they go to the file a MiB at a time.
class SpoolFile final : public kvimap::ByteSource {
 public:
  HRESULT Append(const void* data, ULONG size) {
    const char* bytes = static_cast<const char*>(data);
    size_ += size;
    if (pending_.size() + size > kGathered) {
      HRESULT hr = Flush();
      if (FAILED(hr)) return hr;
      if (size > kGathered) return Write(bytes, size);
    }
    pending_.insert(pending_.end(), bytes, bytes + size);
    return S_OK;
  }
  // Reading starts over from the first byte.
  bool Rewind() {
    read_ = 0;
    if (!file_) return true;
    LARGE_INTEGER start = {};
    return SUCCEEDED(Flush()) && SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) != 0;
  }
  uint64_t Size() const noexcept override { return size_; }
  kvimap::Status Read(void* buffer, size_t capacity, size_t* received) noexcept override {
    if (!file_) {
      *received = std::min(capacity, pending_.size() - read_);
      if (*received) memcpy(buffer, pending_.data() + read_, *received);
      read_ += *received;
      return kvimap::Status();
    }
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(capacity, kGathered));
    if (!ReadFile(file_.get(), buffer, want, &got, nullptr))
      return kvimap::Failure(kvimap::Result::SourceFailed, "the spooled value cannot be read",
                             static_cast<long>(GetLastError()));
    *received = got;
    return kvimap::Status();
  }

 private:
  static constexpr size_t kGathered = 1u << 20;

  HRESULT Write(const char* data, DWORD size) {
    if (!file_) {
      wchar_t directory[MAX_PATH + 1];
      const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
      if (length == 0 || length > MAX_PATH) return MAPI_E_DISK_ERROR;
      const std::string id = ObjectIdText(NewObjectId());
      const std::wstring path = std::wstring(directory) + L"kv2fold-" + std::wstring(id.begin(), id.end()) + L".spool";
      file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
      if (!file_) return MAPI_E_DISK_ERROR;
    }
    DWORD written = 0;
    if (!WriteFile(file_.get(), data, size, &written, nullptr) || written != size)
      return GetLastError() == ERROR_DISK_FULL ? MAPI_E_NOT_ENOUGH_DISK : MAPI_E_DISK_ERROR;
    return S_OK;
  }
  HRESULT Flush() {
    HRESULT hr = pending_.empty() ? S_OK : Write(pending_.data(), static_cast<DWORD>(pending_.size()));
    pending_.clear();
    return hr;
  }

  kvcommon::UniqueFile file_;  // none while everything fits in pending_
  std::vector<char> pending_;
  size_t read_ = 0;  // of pending_, while there is no file
  uint64_t size_ = 0;
};

struct SpooledValue {
  ObjectRef object;
  ULONG tag = 0;
  std::unique_ptr<SpoolFile> file;
};

bool SameObject(ObjectRef a, ObjectRef b) { return a.kind == b.kind && a.number == b.number; }

class ServerDraft final : public MessageDraft {
 public:
  ServerDraft(std::shared_ptr<ServerConnection> connection, DraftTarget target)
      : connection_(std::move(connection)), target_(std::move(target)) {}

  HRESULT CreateAttachment(ULONG* number) noexcept override {
    *number = nextAttachment_++;
    return S_OK;
  }
  void DeleteAttachment(ULONG number) noexcept override {
    const ObjectRef attachment = ObjectRef::Attachment(number);
    if (open_ && SameObject(openObject_, attachment)) open_.reset();
    spooled_.erase(std::remove_if(spooled_.begin(), spooled_.end(),
                                  [&](const SpooledValue& value) { return SameObject(value.object, attachment); }),
                   spooled_.end());
  }
  HRESULT BeginValueStream(ObjectRef object, ULONG tag) noexcept override {
    if (open_) return E_UNEXPECTED;
    try {
      open_.reset(new SpoolFile());
      openObject_ = object;
      openTag_ = tag;
      return S_OK;
    } catch (const std::bad_alloc&) {
      return MAPI_E_NOT_ENOUGH_MEMORY;
    }
  }
  HRESULT WriteValueStream(const void* data, ULONG size) noexcept override {
    return open_ ? open_->Append(data, size) : E_UNEXPECTED;
  }
  HRESULT EndValueStream() noexcept override {
    if (!open_) return E_UNEXPECTED;
    try {
      DeleteStreamedValue(openObject_, openTag_);
      spooled_.push_back({openObject_, openTag_, std::move(open_)});
      return S_OK;
    } catch (const std::bad_alloc&) {
      open_.reset();
      return MAPI_E_NOT_ENOUGH_MEMORY;
    }
  }
  void CancelValueStream() noexcept override { open_.reset(); }
  void DeleteStreamedValue(ObjectRef object, ULONG tag) noexcept override {
    spooled_.erase(std::remove_if(spooled_.begin(), spooled_.end(),
                                  [&](const SpooledValue& value) {
                                    return SameObject(value.object, object) && PropId(value.tag) == PropId(tag);
                                  }),
                   spooled_.end());
  }
  bool Fits(uint64_t moreBytes, uint64_t otherBytes, uint32_t) const noexcept override {
    // Every value goes in base64 at most; text set as values at most doubles.
    uint64_t size = kMimeReserveBytes + 2 * otherBytes;
    for (const SpooledValue& value : spooled_) size += kvimap::Base64EncodedSize(value.file->Size());
    size += kvimap::Base64EncodedSize((open_ ? open_->Size() : 0) + moreBytes);
    return size <= kLargestMessage;
  }
  HRESULT Save(const DraftContents& contents, SavedMessage& out) noexcept override {
    try {
      return StoreResultToHresult(Send(contents, out));
    } catch (const std::bad_alloc&) {
      return MAPI_E_NOT_ENOUGH_MEMORY;
    }
  }
  void Abandon() noexcept override {
    open_.reset();
    spooled_.clear();
  }

 private:
  SpooledValue* Spooled(ObjectRef object, ULONG tag) {
    for (SpooledValue& value : spooled_)
      if (SameObject(value.object, object) && PropId(value.tag) == PropId(tag)) return &value;
    return nullptr;
  }

  // The body: set as a value, or streamed (read back whole, within kLargestBody).
  StoreResult Body(const std::vector<Value>& values, std::wstring& body) {
    body = TextValue(values, PR_BODY_W);
    SpooledValue* value = Spooled(ObjectRef::Message(), PR_BODY_W);
    if (!value) return StoreResult::Ok;
    SpoolFile* spooled = value->file.get();
    if (spooled->Size() > kLargestBody) return StoreResult::TooBig;
    std::string bytes(static_cast<size_t>(spooled->Size()), '\0');
    size_t have = 0;
    if (!spooled->Rewind()) return StoreResult::IoError;
    while (have < bytes.size()) {
      size_t got = 0;
      if (!spooled->Read(&bytes[have], bytes.size() - have, &got).ok() || got == 0) return StoreResult::IoError;
      have += got;
    }
    if (PROP_TYPE(value->tag) == PT_STRING8) {
      body = std::wstring(bytes.begin(), bytes.end());
    } else {
      body.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }
    return StoreResult::Ok;
  }

  StoreResult Fields(const DraftContents& contents, kvimap::MimeMessageFields& fields,
                     std::vector<std::unique_ptr<kvimap::MemorySource>>& inMemory) {
    const std::vector<Value>& values = *contents.values;
    fields.fromName = TextValue(values, PR_SENDER_NAME_W);
    if (fields.fromName.empty()) fields.fromName = target_.senderName;
    fields.fromAddress = target_.senderAddress;
    const Value* submitted = FindValue(values, PR_CLIENT_SUBMIT_TIME);
    FILETIME when;
    if (submitted && PROP_TYPE(submitted->tag) == PT_SYSTIME) {
      when.dwLowDateTime = static_cast<DWORD>(submitted->number);
      when.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(submitted->number) >> 32);
    } else {
      GetSystemTimeAsFileTime(&when);
    }
    if (!FileTimeToSystemTime(&when, &fields.date)) GetSystemTime(&fields.date);
    fields.subject = TextValue(values, PR_SUBJECT_W);
    fields.threadTopic = TextValue(values, PR_CONVERSATION_TOPIC_W);
    const Value* importance = FindValue(values, PR_IMPORTANCE);
    if (importance && PROP_TYPE(importance->tag) == PT_LONG)
      fields.importance = importance->number == IMPORTANCE_LOW    ? kvimap::Importance::Low
                          : importance->number == IMPORTANCE_HIGH ? kvimap::Importance::High
                                                                  : kvimap::Importance::Normal;
    fields.messageClass = ToUtf8(TextValue(values, PR_MESSAGE_CLASS_W));
    fields.displayName = TextValue(values, PR_DISPLAY_NAME_W);
    const size_t at = fields.fromAddress.find('@');
    if (!kvimap::NewMessageId(at == std::string::npos ? "kv2fold.invalid" : fields.fromAddress.substr(at + 1),
                              &fields.messageId)
             .ok())
      return StoreResult::Refused;
    StoreResult result = Body(values, fields.body);
    if (result != StoreResult::Ok) return result;
    for (const DraftContents::Attachment& attachment : contents.attachments) {
      kvimap::MimeAttachment part;
      for (ULONG tag : {PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_FILENAME_W, PR_DISPLAY_NAME_W}) {
        part.fileName = TextValue(*attachment.values, tag);
        if (!part.fileName.empty()) break;
      }
      const std::wstring mimeType = TextValue(*attachment.values, PR_ATTACH_MIME_TAG_W);
      if (mimeType.find(L'/') != std::wstring::npos &&
          std::all_of(mimeType.begin(), mimeType.end(), [](wchar_t c) { return c > L' ' && c <= L'~'; }))
        part.contentType = ToUtf8(mimeType);
      const ObjectRef object = ObjectRef::Attachment(attachment.number);
      if (SpooledValue* spooled = Spooled(object, PR_ATTACH_DATA_BIN)) {
        if (!spooled->file->Rewind()) return StoreResult::IoError;
        part.content = spooled->file.get();
      } else {
        const Value* data = FindValue(*attachment.values, PR_ATTACH_DATA_BIN);
        const std::vector<uint8_t> none;
        const std::vector<uint8_t>& bytes = data && PROP_TYPE(data->tag) == PT_BINARY ? data->bytes : none;
        inMemory.emplace_back(new kvimap::MemorySource(bytes.data(), bytes.size()));
        part.content = inMemory.back().get();
      }
      fields.attachments.push_back(std::move(part));
    }
    return StoreResult::Ok;
  }

  StoreResult Send(const DraftContents& contents, SavedMessage& out) {
    if (open_) return StoreResult::Refused;
    kvimap::AppendResult appended;
    uint64_t size = 0;
    StoreResult result = StoreResult::Ok;
    // A hidden folder not made yet is made, then the message sent again from its start.
    for (int attempt = 0; attempt < 2; ++attempt) {
      kvimap::MimeMessageFields fields;
      std::vector<std::unique_ptr<kvimap::MemorySource>> inMemory;
      result = Fields(contents, fields, inMemory);
      if (result != StoreResult::Ok) return result;
      kvimap::MimeMessage message;
      kvimap::Status prepared = message.Prepare(fields);
      if (!prepared.ok()) return ServerResult(prepared);
      size = message.Size();
      const bool seen = (contents.messageFlags & MSGFLAG_READ) != 0;
      result = connection_->Use([&](kvimap::ImapClient& client) {
        return client.Append(target_.mailbox, &message, seen, fields.messageId, &appended);
      });
      if (result != StoreResult::NotFound || !target_.createIfMissing || attempt > 0) break;
      result = connection_->Use([&](kvimap::ImapClient& client) { return client.Create(target_.mailbox); });
      if (result != StoreResult::Ok && result != StoreResult::Collision) return result;
    }
    if (result != StoreResult::Ok) return result;
    out.id = appended.uid ? ServerMessageKey(appended.uidValidity, appended.uid) : NewObjectId();
    out.size = size;
    out.file.clear();
    spooled_.clear();
    return StoreResult::Ok;
  }

  std::shared_ptr<ServerConnection> connection_;
  DraftTarget target_;
  ULONG nextAttachment_ = 0;
  std::vector<SpooledValue> spooled_;
  std::unique_ptr<SpoolFile> open_;
  ObjectRef openObject_;
  ULONG openTag_ = 0;
};

}  // namespace

StoreResult NewServerDraft(std::shared_ptr<ServerConnection> connection, DraftTarget target,
                           std::unique_ptr<MessageDraft>& out) {
  out.reset(new ServerDraft(std::move(connection), std::move(target)));
  return StoreResult::Ok;
}

}  // namespace provider
