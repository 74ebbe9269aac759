#include "message_files.h"

#include <mapitags.h>

#include <algorithm>
#include <cwctype>
#include <iterator>

#include <kvcommon/unique_resource.h>
#include <msgfile/message_reader.h>

#include "files.h"

namespace provider {
namespace {

// What the index keeps of a message's own values for its contents table row.
constexpr ULONG kIndexedTags[] = {PR_SUBJECT_W,          PR_MESSAGE_CLASS_W,       PR_DISPLAY_NAME_W,
                                  PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME, PR_SENDER_NAME_W,
                                  PR_IMPORTANCE,         PR_CREATION_TIME,         PR_LAST_MODIFICATION_TIME};
constexpr size_t kIndexedTextLength = 255;
constexpr size_t kIdDigits = 32;

bool IsString(ULONG tag) { return PROP_TYPE(tag) == PT_UNICODE || PROP_TYPE(tag) == PT_STRING8; }

bool SameKind(ULONG stored, ULONG wanted) {
  return PROP_TYPE(stored) == PROP_TYPE(wanted) || (IsString(stored) && IsString(wanted));
}

uint64_t FileTimeNumber(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// "<32 hex digits><suffix>", any case, as an id.
bool IdOfName(const std::wstring& name, const wchar_t* suffix, ObjectId& id) {
  const size_t suffixLength = wcslen(suffix);
  if (name.size() != kIdDigits + suffixLength || _wcsicmp(name.c_str() + kIdDigits, suffix) != 0) return false;
  char digits[kIdDigits];
  for (size_t i = 0; i < kIdDigits; ++i) {
    if (name[i] > 0x7F) return false;
    digits[i] = static_cast<char>(name[i]);
  }
  return ParseObjectId(digits, kIdDigits, id);
}

Value ValueOf(const msgfile::Property& property) {
  Value value;
  value.tag = property.tag;
  switch (PROP_TYPE(property.tag)) {
    case PT_UNICODE:
      value.text = msgfile::UnicodeValue(property);
      break;
    case PT_STRING8: {
      // Other writers' narrow strings are in the ANSI code page.
      const std::string narrow = msgfile::String8Value(property);
      const int size = MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
      value.text.assign(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
      if (size > 0) MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), &value.text[0], size);
      break;
    }
    case PT_LONG: value.number = msgfile::LongValue(property); break;
    case PT_I2: value.number = msgfile::ShortValue(property); break;
    case PT_BOOLEAN: value.number = msgfile::BooleanValue(property) ? 1 : 0; break;
    default: value.number = static_cast<int64_t>(property.fixed); break;
  }
  return value;
}

}  // namespace

namespace {

bool IsHexName(const wchar_t* name, size_t digits) {
  if (wcslen(name) != digits) return false;
  for (size_t i = 0; i < digits; ++i)
    if (!iswxdigit(name[i])) return false;
  return true;
}

struct Bucket {
  std::wstring path;
  bool twoDigits = false;
};

// The message files directly in one directory; its subdirectories named by
// two or three hex digits into buckets, when given.
StoreResult ListDirectory(const std::wstring& directory, const MessageFileListing::Saved& place, MessageFileListing& out,
                          std::vector<Bucket>* buckets) {
  WIN32_FIND_DATAW data;
  kvcommon::UniqueFind find(FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &data,
                                             FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!find) {
    DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? StoreResult::Ok : StoreResult::IoError;
  }
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!buckets) continue;
      if (IsHexName(data.cFileName, 3))
        buckets->push_back({directory + L"\\" + data.cFileName, false});
      else if (IsHexName(data.cFileName, 2))
        buckets->push_back({directory + L"\\" + data.cFileName, true});
      continue;
    }
    const std::wstring name = data.cFileName;
    ObjectId id;
    if (IdOfName(name, L".msg", id)) {
      MessageFileListing::Saved saved = place;
      saved.id = id;
      saved.written = FileTimeNumber(data.ftLastWriteTime);
      out.saved.push_back(saved);
    } else if (IdOfName(name, L".tmp", id)) {
      out.composing.push_back(directory + L"\\" + name);
    }
  } while (FindNextFileW(find.get(), &data));
  return GetLastError() == ERROR_NO_MORE_FILES ? StoreResult::Ok : StoreResult::IoError;
}

MessageFileListing::Saved InMessages() {
  MessageFileListing::Saved place;
  place.unbucketed = true;
  return place;
}

MessageFileListing::Saved InBucket(bool twoDigits) {
  MessageFileListing::Saved place;
  place.twoDigitBucket = twoDigits;
  return place;
}

// Which of two files of one message counts: the one in its bucket, then
// where stores before put it.
int Rank(const MessageFileListing::Saved& saved) { return saved.unbucketed ? 2 : saved.twoDigitBucket ? 1 : 0; }

}  // namespace

StoreResult ListMessageFiles(const std::wstring& folderDirectory, MessageFileListing& out) {
  out = MessageFileListing();
  std::vector<Bucket> buckets;
  StoreResult result = ListDirectory(MessagesDirectory(folderDirectory), InMessages(), out, &buckets);
  for (size_t i = 0; result == StoreResult::Ok && i < buckets.size(); ++i)
    result = ListDirectory(buckets[i].path, InBucket(buckets[i].twoDigits), out, nullptr);
  if (result == StoreResult::Ok) result = ListDirectory(ComposingDirectory(folderDirectory), InBucket(false), out, nullptr);
  if (result != StoreResult::Ok) return result;
  // A message in its bucket and also where it was before (an upgrade cut
  // short) is the one in its bucket.
  std::sort(out.saved.begin(), out.saved.end(),
            [](const MessageFileListing::Saved& a, const MessageFileListing::Saved& b) {
              return a.id != b.id ? a.id < b.id : Rank(a) < Rank(b);
            });
  out.saved.erase(std::unique(out.saved.begin(), out.saved.end(),
                              [](const MessageFileListing::Saved& a, const MessageFileListing::Saved& b) {
                                return a.id == b.id;
                              }),
                  out.saved.end());
  return StoreResult::Ok;
}

StoreResult ListMessageDirectoryTops(const std::wstring& folderDirectory, MessageDirectoryTops& out) {
  out = MessageDirectoryTops();
  MessageFileListing top;
  std::vector<Bucket> buckets;
  StoreResult result = ListDirectory(MessagesDirectory(folderDirectory), InMessages(), top, &buckets);
  if (result == StoreResult::Ok) result = ListDirectory(ComposingDirectory(folderDirectory), InBucket(false), top, nullptr);
  out.buckets = buckets.size();
  out.unbucketed = top.saved.size();
  out.composing = std::move(top.composing);
  return result;
}

bool MakeMessageBucket(const std::wstring& folderDirectory, const ObjectId& id) {
  const std::wstring bucket = MessageBucket(folderDirectory, id);
  if (CreateDirectoryW(bucket.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
  return GetLastError() == ERROR_PATH_NOT_FOUND && CreateDirectoryTree(bucket);
}

std::wstring SavedFilePath(const std::wstring& folderDirectory, const MessageFileListing::Saved& saved) {
  if (saved.unbucketed) return UnbucketedMessagePath(folderDirectory, saved.id);
  return saved.twoDigitBucket ? TwoDigitBucketMessagePath(folderDirectory, saved.id) : MessagePath(folderDirectory, saved.id);
}

bool MoveIntoBuckets(const std::wstring& folderDirectory, MessageFileListing& listing, uint64_t& moved) {
  moved = 0;
  for (MessageFileListing::Saved& saved : listing.saved) {
    if (!saved.unbucketed) continue;
    if (!MakeMessageBucket(folderDirectory, saved.id)) return false;
    const std::wstring from = UnbucketedMessagePath(folderDirectory, saved.id);
    if (!MoveFileExW(from.c_str(), MessagePath(folderDirectory, saved.id).c_str(), 0)) return false;
    saved.unbucketed = false;
    ++moved;
  }
  return true;
}

bool HasSavedFile(const MessageFileListing& listing, const ObjectId& id) {
  auto at = std::lower_bound(listing.saved.begin(), listing.saved.end(), id,
                             [](const MessageFileListing::Saved& saved, const ObjectId& wanted) { return saved.id < wanted; });
  return at != listing.saved.end() && at->id == id;
}

bool RemoveIfStale(const std::wstring& path) {
  kvcommon::UniqueFile file(CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return file.valid();  // closing it deletes it
}

IndexEntry MakeIndexEntry(const ObjectId& id, bool associated, const std::vector<Value>& values, uint64_t fileSize,
                          bool hasAttachments, ULONG messageFlags) {
  IndexEntry entry;
  entry.id = id;
  entry.associated = associated;
  for (ULONG tag : kIndexedTags) {
    auto value = std::find_if(values.begin(), values.end(), [tag](const Value& v) { return PropId(v.tag) == PropId(tag); });
    if (value == values.end() || !SameKind(value->tag, tag)) continue;
    Value indexed = *value;
    if (IsString(indexed.tag) && indexed.text.size() > kIndexedTextLength) indexed.text.resize(kIndexedTextLength);
    entry.properties.push_back(std::move(indexed));
  }
  entry.properties.push_back(Value::Long(PR_MESSAGE_SIZE, static_cast<int64_t>(std::min<uint64_t>(fileSize, 0x7FFFFFFF))));
  entry.properties.push_back(Value::Bool(PR_HASATTACH, hasAttachments));
  entry.properties.push_back(Value::Long(PR_MESSAGE_FLAGS, static_cast<LONG>(messageFlags)));
  return entry;
}

msgfile::Property FilePropertyFromValue(const Value& value) {
  const ULONG type = PROP_TYPE(value.tag);
  switch (type) {
    case PT_UNICODE:
    case PT_STRING8:
      return msgfile::UnicodeProperty(CHANGE_PROP_TYPE(value.tag, PT_UNICODE), value.text);
    case PT_BINARY:
    case PT_CLSID: {
      msgfile::Property property = msgfile::BinaryProperty(value.tag, value.bytes.data(), value.bytes.size());
      return property;
    }
    default: {
      msgfile::Property property;
      property.tag = value.tag;
      const size_t bytes = msgfile::FixedValueBytes(type);
      const uint64_t mask = bytes >= 8 ? ~0ull : ((1ull << (8 * bytes)) - 1);
      property.fixed = static_cast<uint64_t>(value.number) & mask;
      return property;
    }
  }
}

StoreResult ReadIndexEntry(const std::wstring& path, const ObjectId& id, IndexEntry& out) {
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) return StoreResult::NotFound;
  msgfile::MessageReader reader;
  if (FAILED(reader.Open(path.c_str()))) return StoreResult::Corrupt;
  const msgfile::ObjectRef message = msgfile::ObjectRef::Message();
  std::vector<Value> values;
  for (ULONG tag : kIndexedTags) {
    msgfile::Property property;
    if (SUCCEEDED(reader.GetProperty(message, CHANGE_PROP_TYPE(tag, msgfile::kAnyPropertyType), &property)) &&
        SameKind(property.tag, tag))
      values.push_back(ValueOf(property));
  }
  msgfile::Property flags;
  ULONG messageFlags = 0;
  if (SUCCEEDED(reader.GetProperty(message, PR_MESSAGE_FLAGS, &flags)))
    messageFlags = static_cast<ULONG>(msgfile::LongValue(flags));
  const uint64_t size = (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  out = MakeIndexEntry(id, (messageFlags & MSGFLAG_ASSOCIATED) != 0, values, size, reader.AttachmentCount() > 0,
                       messageFlags);
  return StoreResult::Ok;
}

}  // namespace provider
