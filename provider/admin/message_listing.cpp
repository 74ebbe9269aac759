// The admin tool's view of messages: a folder's listing and the extraction of
// an attachment's data, read from the folder's index and the message files.
#include "admin_lib.h"

#include <windows.h>

#include <mapitags.h>

#include <memory>

#include <msgfile/message_reader.h>

#include "files.h"
#include "folder_index.h"
#include "folder_lookup.h"
#include "message_files.h"
#include "store_layout.h"
#include "text.h"

namespace provider {
namespace admin {
namespace {

constexpr ULONG kAttachDataTag = PR_ATTACH_DATA_BIN;

bool OpenFolder(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& folderPath,
                FolderRecord& folder, std::wstring& error) {
  std::unique_ptr<StoreLayout> store;
  return FindFolder(profilesPath, profileName, folderPath, store, folder, error);
}

std::wstring FileText(const msgfile::MessageReader& reader, msgfile::ObjectRef object, ULONG tag) {
  msgfile::Property value;
  if (FAILED(reader.GetProperty(object, CHANGE_PROP_TYPE(tag, msgfile::kAnyPropertyType), &value))) return L"";
  if (PROP_TYPE(value.tag) == PT_UNICODE) return msgfile::UnicodeValue(value);
  if (PROP_TYPE(value.tag) == PT_STRING8) {
    std::string narrow = msgfile::String8Value(value);
    int size = MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
    std::wstring wide(size > 0 ? size : 0, L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), &wide[0], size);
    return wide;
  }
  return L"";
}

std::wstring ReaderProblem(HRESULT hr) {
  wchar_t text[64];
  swprintf(text, 64, L"its file cannot be read (0x%08lX)", static_cast<unsigned long>(hr));
  return text;
}

void ReadAttachments(const std::wstring& path, MessageSummary& summary) {
  msgfile::MessageReader reader;
  HRESULT hr = reader.Open(path.c_str());
  if (FAILED(hr)) {
    summary.problem = ReaderProblem(hr);
    return;
  }
  for (ULONG i = 0; i < reader.AttachmentCount(); ++i) {
    const msgfile::ObjectRef object = msgfile::ObjectRef::Attachment(i);
    AttachmentSummary attachment;
    for (ULONG tag : {PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_FILENAME_W, PR_DISPLAY_NAME_W}) {
      attachment.name = FileText(reader, object, tag);
      if (!attachment.name.empty()) break;
    }
    for (const msgfile::PropertyEntry& entry : *reader.Properties(object))
      if (entry.tag == kAttachDataTag) attachment.size = entry.size;
    summary.attachments.push_back(std::move(attachment));
  }
}

}  // namespace

bool ListMessages(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& folderPath,
                  std::vector<MessageSummary>& messages, std::wstring& error, IndexDamage* damage) {
  messages.clear();
  FolderRecord folder;
  if (!OpenFolder(profilesPath, profileName, folderPath, folder, error)) return false;
  std::vector<IndexEntry> entries;
  if (ReadFolderIndex(folder.directory, entries, damage) != StoreResult::Ok) {
    error = L"the message index of " + folderPath + L" cannot be read";
    return false;
  }
  for (const IndexEntry& entry : entries) {
    MessageSummary summary;
    std::string id = ObjectIdText(entry.id);
    summary.id.assign(id.begin(), id.end());
    summary.associated = entry.associated;
    summary.messageClass = TextValue(entry.properties, PR_MESSAGE_CLASS_W);
    summary.subject = TextValue(entry.properties, PR_SUBJECT_W);
    summary.displayName = TextValue(entry.properties, PR_DISPLAY_NAME_W);
    ReadAttachments(ExistingMessagePath(folder.directory, entry.id), summary);
    messages.push_back(std::move(summary));
  }
  return true;
}

std::wstring FormatMessages(const std::wstring& folderPath, const std::vector<MessageSummary>& messages,
                            const IndexDamage& damage) {
  size_t associated = 0;
  for (const MessageSummary& message : messages) associated += message.associated ? 1 : 0;
  std::wstring out = L"Folder " + folderPath + L": " + std::to_wstring(messages.size() - associated) + L" messages, " +
                     std::to_wstring(associated) + L" associated\n";
  if (damage.badLines > 0 || damage.header || damage.cut) {
    std::wstring what;
    auto add = [&what](const std::wstring& part) { what += (what.empty() ? L"" : L" and ") + part; };
    if (damage.header) add(L"has a damaged header");
    if (damage.cut) add(L"was cut short, so messages at its end are missing");
    if (damage.badLines > 0)
      add(L"holds " + std::to_wstring(damage.badLines) + L" damaged line" + (damage.badLines > 1 ? L"s" : L"") +
          L", the first is line " + std::to_wstring(damage.firstBadLine));
    out += L"  (the folder's index " + what +
           L"; what it lists is shown. kvmapi-admin repair rebuilds it from the message files.)\n";
  }
  for (const MessageSummary& message : messages) {
    out += L"  " + message.id + L"  " + (message.associated ? L"(associated) " : L"") + message.messageClass +
           L"  \"" + message.subject + L"\"";
    if (!message.displayName.empty()) out += L"  display name \"" + message.displayName + L"\"";
    out += L"\n";
    for (size_t i = 0; i < message.attachments.size(); ++i)
      out += L"      attachment " + std::to_wstring(i + 1) + L": " + message.attachments[i].name + L" (" +
             std::to_wstring(message.attachments[i].size) + L" bytes)\n";
    if (!message.problem.empty()) out += L"      (" + message.problem + L")\n";
  }
  return out;
}

bool ExtractAttachment(const std::wstring& profilesPath, const std::wstring& profileName, const std::wstring& folderPath,
                       const std::wstring& message, unsigned attachment, const std::wstring& outputPath,
                       uint64_t& bytesWritten, std::wstring& error) {
  bytesWritten = 0;
  FolderRecord folder;
  if (!OpenFolder(profilesPath, profileName, folderPath, folder, error)) return false;
  std::vector<IndexEntry> entries;
  if (ReadFolderIndex(folder.directory, entries) != StoreResult::Ok) {
    error = L"the message index of " + folderPath + L" cannot be read";
    return false;
  }
  const std::string wanted = ToUtf8(message);
  const IndexEntry* found = nullptr;
  size_t matches = 0;
  for (const IndexEntry& entry : entries) {
    if (wanted.empty() || ObjectIdText(entry.id).compare(0, wanted.size(), wanted) != 0) continue;
    found = &entry;
    ++matches;
  }
  if (matches != 1) {
    error = matches == 0 ? L"no message " + message + L" in " + folderPath
                         : L"" + message + L" names " + std::to_wstring(matches) + L" messages: give more digits";
    return false;
  }
  msgfile::MessageReader reader;
  HRESULT hr = reader.Open(ExistingMessagePath(folder.directory, found->id).c_str());
  if (FAILED(hr)) {
    error = L"message " + message + L": " + ReaderProblem(hr);
    return false;
  }
  if (attachment < 1 || attachment > reader.AttachmentCount()) {
    error = L"message " + message + L" has " + std::to_wstring(reader.AttachmentCount()) + L" attachments";
    return false;
  }
  msgfile::StreamReader data;
  if (FAILED(reader.OpenValueStream(msgfile::ObjectRef::Attachment(attachment - 1), kAttachDataTag, &data))) {
    error = L"attachment " + std::to_wstring(attachment) + L" holds no data";
    return false;
  }
  // Written beside the target and moved over it once complete.
  const std::wstring partial = outputPath + L".partial";
  {
    kvcommon::UniqueFile out(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) {
      error = L"cannot write " + partial;
      return false;
    }
    std::vector<uint8_t> buffer(64u << 10);
    for (;;) {
      size_t read = 0;
      if (FAILED(hr = data.Read(buffer.data(), buffer.size(), &read))) {
        error = L"message " + message + L": " + ReaderProblem(hr);
        break;
      }
      if (read == 0) break;
      DWORD written = 0;
      if (!WriteFile(out.get(), buffer.data(), static_cast<DWORD>(read), &written, nullptr) || written != read) {
        error = L"cannot write " + partial;
        break;
      }
      bytesWritten += read;
    }
  }
  if (error.empty() && !MoveFileExW(partial.c_str(), outputPath.c_str(), MOVEFILE_REPLACE_EXISTING))
    error = L"cannot replace " + outputPath;
  if (!error.empty()) {
    DeleteFileW(partial.c_str());
    bytesWritten = 0;
    return false;
  }
  return true;
}

}  // namespace admin
}  // namespace provider
