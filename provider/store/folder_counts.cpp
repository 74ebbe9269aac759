#include "folder_counts.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include <kvcommon/unique_resource.h>

#include "files.h"

namespace provider {
namespace {

constexpr wchar_t kCountsFile[] = L"\\subfolders.kvc";
constexpr size_t kIdDigits = 32;
constexpr size_t kFlagAt = kIdDigits + 1;
constexpr size_t kCountsAt = kFlagAt + 2;
constexpr size_t kCountsBytes = 10 + 1 + 10;
constexpr size_t kRecordBytes = kCountsAt + kCountsBytes + 2;

kvcommon::UniqueFile OpenCounts(const std::wstring& path, DWORD disposition) {
  return kvcommon::UniqueFile(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadWhole(HANDLE file, uint64_t offset, char* data, size_t size) {
  DWORD read = 0;
  return ReadAt(file, offset, data, static_cast<DWORD>(size), read) && read == size;
}

bool ReadAll(HANDLE file, std::string& bytes) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart > (64 << 20)) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  return bytes.empty() || ReadWhole(file, 0, &bytes[0], bytes.size());
}

std::string CountsText(const IndexCounts& counts) {
  char text[kCountsBytes + 1];
  snprintf(text, sizeof text, "%010lu %010lu", static_cast<unsigned long>(counts.contents),
           static_cast<unsigned long>(counts.associated));
  return std::string(text, kCountsBytes);
}

std::string RecordText(const ObjectId& id, const FolderCountsRecord& record) {
  return ObjectIdText(id) + (record.hasSubfolders ? " 1 " : " 0 ") + CountsText(record.counts) + "\r\n";
}

bool ParseNumber(const char* text, ULONG& out) {
  unsigned long long value = 0;
  for (size_t i = 0; i < 10; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (value > 0xFFFFFFFFull) return false;
  out = static_cast<ULONG>(value);
  return true;
}

bool ParseRecord(const char* text, ObjectId& id, FolderCountsRecord& record) {
  if (!ParseObjectId(text, kIdDigits, id) || text[kIdDigits] != ' ' || text[kFlagAt + 1] != ' ' ||
      (text[kFlagAt] != '0' && text[kFlagAt] != '1') || text[kCountsAt + 10] != ' ' ||
      text[kRecordBytes - 2] != '\r' || text[kRecordBytes - 1] != '\n')
    return false;
  record.hasSubfolders = text[kFlagAt] == '1';
  return ParseNumber(text + kCountsAt, record.counts.contents) &&
         ParseNumber(text + kCountsAt + 11, record.counts.associated);
}

// Where a folder's record starts in bytes, kNoCountsRecord when it has none.
uint64_t FindRecord(const std::string& bytes, const std::string& idText) {
  for (size_t at = 0; at + kRecordBytes <= bytes.size(); at += kRecordBytes)
    if (bytes.compare(at, kIdDigits, idText) == 0) return at;
  return kNoCountsRecord;
}

}  // namespace

std::wstring SubfolderCountsPath(const std::wstring& parentDirectory) { return parentDirectory + kCountsFile; }

std::wstring ParentFolderDirectory(const std::wstring& folderDirectory) {
  const size_t name = folderDirectory.find_last_of(L'\\');
  if (name == std::wstring::npos || name < 8 || _wcsnicmp(folderDirectory.c_str() + name - 8, L"\\folders", 8) != 0)
    return std::wstring();
  return folderDirectory.substr(0, name - 8);
}

bool ReadFolderId(const std::wstring& folderDirectory, ObjectId& id) {
  std::string bytes;
  if (ReadWholeFile(folderDirectory + L"\\folder.kvf", bytes) != FileRead::Ok) return false;
  const size_t at = bytes.compare(0, 3, "Id=") == 0 ? 0 : bytes.find("\nId=");
  if (at == std::string::npos) return false;
  const size_t start = at == 0 ? 3 : at + 4;
  return bytes.size() >= start + kIdDigits && ParseObjectId(bytes.data() + start, kIdDigits, id);
}

StoreResult ReadSubfolderCounts(const std::wstring& parentDirectory, SubfolderCounts& out) {
  out.clear();
  std::string bytes;
  FileRead read = ReadWholeFile(SubfolderCountsPath(parentDirectory), bytes);
  if (read == FileRead::Missing) return StoreResult::Ok;
  if (read != FileRead::Ok) return StoreResult::IoError;
  out.reserve(bytes.size() / kRecordBytes);
  for (size_t at = 0; at + kRecordBytes <= bytes.size(); at += kRecordBytes) {
    ObjectId id;
    FolderCountsRecord record;
    // A damaged record leaves its folder to be read from the folder itself.
    if (ParseRecord(bytes.data() + at, id, record)) out[id] = record;
  }
  return StoreResult::Ok;
}

bool PutCountsRecord(const std::wstring& parentDirectory, const ObjectId& id, const FolderCountsRecord& record) {
  kvcommon::UniqueFile file = OpenCounts(SubfolderCountsPath(parentDirectory), OPEN_ALWAYS);
  std::string bytes;
  if (!file || !ReadAll(file.get(), bytes)) return false;
  const std::string text = RecordText(id, record);
  uint64_t at = FindRecord(bytes, text.substr(0, kIdDigits));
  // A record cut short by a writer that died is written over.
  if (at == kNoCountsRecord) at = bytes.size() - bytes.size() % kRecordBytes;
  return WriteAt(file.get(), at, text.data(), text.size());
}

bool AppendCountsRecords(const std::wstring& parentDirectory, const std::vector<ObjectId>& ids) {
  kvcommon::UniqueFile file = OpenCounts(SubfolderCountsPath(parentDirectory), OPEN_ALWAYS);
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(file.get(), &size)) return false;
  std::string text;
  for (const ObjectId& id : ids) text += RecordText(id, FolderCountsRecord());
  const uint64_t end = static_cast<uint64_t>(size.QuadPart);
  return WriteAt(file.get(), end - end % kRecordBytes, text.data(), text.size());
}

bool MarkHasSubfolders(const std::wstring& parentDirectory, const ObjectId& id) {
  kvcommon::UniqueFile file = OpenCounts(SubfolderCountsPath(parentDirectory), OPEN_EXISTING);
  if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  std::string bytes;
  if (!ReadAll(file.get(), bytes)) return false;
  const uint64_t at = FindRecord(bytes, ObjectIdText(id));
  return at == kNoCountsRecord || WriteAt(file.get(), at + kFlagAt, "1", 1);
}

bool WriteFolderCounts(const std::wstring& folderDirectory, const ObjectId& id, const IndexCounts& counts,
                       uint64_t& offset) {
  const std::wstring parent = ParentFolderDirectory(folderDirectory);
  if (parent.empty()) return true;
  kvcommon::UniqueFile file = OpenCounts(SubfolderCountsPath(parent), OPEN_EXISTING);
  if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  const std::string idText = ObjectIdText(id);
  char found[kIdDigits];
  if (offset == kNoCountsRecord || !ReadWhole(file.get(), offset, found, kIdDigits) ||
      memcmp(found, idText.data(), kIdDigits) != 0) {
    std::string bytes;
    if (!ReadAll(file.get(), bytes)) return false;
    offset = FindRecord(bytes, idText);
    if (offset == kNoCountsRecord) return true;
  }
  const std::string text = CountsText(counts);
  return WriteAt(file.get(), offset + kCountsAt, text.data(), text.size());
}

}  // namespace provider
