#include "folder_index.h"

#include <windows.h>

#include <mapidefs.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files.h"
#include "text.h"

namespace provider {
namespace {

constexpr char kHeaderFormat[] = "KVIDX 2 %010lu %010lu %020llu\n";
constexpr size_t kHeaderBytes = 51;  // what kHeaderFormat prints, always

struct Header {
  IndexCounts counts;
  unsigned long long covered = 0;  // bytes of the file that the counts describe
};

std::string HeaderText(const IndexCounts& counts, unsigned long long covered) {
  char text[kHeaderBytes + 1];
  snprintf(text, sizeof text, kHeaderFormat, static_cast<unsigned long>(counts.contents),
           static_cast<unsigned long>(counts.associated), covered);
  return std::string(text, kHeaderBytes);
}

bool ParseHeader(const char* bytes, size_t size, Header& out) {
  if (size < kHeaderBytes || bytes[kHeaderBytes - 1] != '\n' || memcmp(bytes, "KVIDX 2 ", 8) != 0) return false;
  std::string line(bytes, kHeaderBytes - 1);
  unsigned long contents = 0, associated = 0;
  unsigned long long covered = 0;
  if (sscanf(line.c_str(), "KVIDX 2 %lu %lu %llu", &contents, &associated, &covered) != 3) return false;
  out.counts.contents = contents;
  out.counts.associated = associated;
  out.covered = covered;
  return true;
}

bool EncodeValue(const Value& value, std::string& out) {
  char number[32];
  switch (PROP_TYPE(value.tag)) {
    case PT_LONG:
    case PT_I2:
    case PT_BOOLEAN:
      snprintf(number, sizeof number, "%lld", static_cast<long long>(value.number));
      out = number;
      return true;
    case PT_I8:
    case PT_SYSTIME:
      snprintf(number, sizeof number, "%016llx", static_cast<unsigned long long>(value.number));
      out = number;
      return true;
    case PT_UNICODE:
    case PT_STRING8:
      out = EscapeLine(value.text);
      return true;
    case PT_BINARY:
      out = ToHex(value.bytes.data(), value.bytes.size());
      return true;
    default:
      return false;
  }
}

bool DecodeValue(ULONG tag, const std::string& text, Value& out) {
  out = Value();
  out.tag = tag;
  char* end = nullptr;
  switch (PROP_TYPE(tag)) {
    case PT_LONG:
    case PT_I2:
    case PT_BOOLEAN:
      out.number = strtoll(text.c_str(), &end, 10);
      return !text.empty() && *end == '\0';
    case PT_I8:
    case PT_SYSTIME:
      out.number = static_cast<int64_t>(strtoull(text.c_str(), &end, 16));
      return !text.empty() && *end == '\0';
    case PT_UNICODE:
    case PT_STRING8:
      return UnescapeLine(text, out.text);
    case PT_BINARY:
      return FromHex(text, out.bytes);
    default:
      return false;
  }
}

std::string EntryLine(const IndexEntry& entry) {
  std::string text = ObjectIdText(entry.id) + (entry.associated ? "\tA\t" : "\tC\t") + EscapeLine(entry.fileName);
  for (const Value& value : entry.properties) {
    std::string encoded;
    if (!EncodeValue(value, encoded)) continue;
    char tag[16];
    snprintf(tag, sizeof tag, "%08lx", static_cast<unsigned long>(value.tag));
    text += "\t";
    text += tag;
    text += ":" + encoded;
  }
  text += "\n";
  return text;
}

bool ParseEntry(const std::string& line, IndexEntry& entry) {
  std::vector<std::string> fields;
  size_t pos = 0;
  for (;;) {
    size_t tab = line.find('\t', pos);
    fields.push_back(line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
    if (tab == std::string::npos) break;
    pos = tab + 1;
  }
  if (fields.size() < 3 || !ParseObjectId(fields[0], entry.id) || (fields[1] != "A" && fields[1] != "C") ||
      !UnescapeLine(fields[2], entry.fileName))
    return false;
  entry.associated = fields[1] == "A";
  for (size_t f = 3; f < fields.size(); ++f) {
    const std::string& field = fields[f];
    if (field.size() < 9 || field[8] != ':') return false;
    char* end = nullptr;
    ULONG tag = static_cast<ULONG>(strtoul(field.substr(0, 8).c_str(), &end, 16));
    Value value;
    if (*end != '\0' || !DecodeValue(tag, field.substr(9), value)) return false;
    entry.properties.push_back(std::move(value));
  }
  return true;
}

// The bytes up to and with the last line feed: what a torn append leaves
// after that is not part of the index.
size_t CompleteLength(const std::string& bytes) {
  size_t last = bytes.rfind('\n');
  return last == std::string::npos ? 0 : last + 1;
}

// Counts the complete lines after the header without parsing them.
StoreResult CountLines(const std::string& bytes, IndexCounts& out) {
  out = IndexCounts();
  size_t end = CompleteLength(bytes);
  for (size_t pos = kHeaderBytes; pos < end;) {
    size_t next = bytes.find('\n', pos) + 1;
    size_t tab = bytes.find('\t', pos);
    if (tab == std::string::npos || tab + 2 >= next) return StoreResult::Corrupt;
    if (bytes[tab + 1] == 'A') {
      ++out.associated;
    } else if (bytes[tab + 1] == 'C') {
      ++out.contents;
    } else {
      return StoreResult::Corrupt;
    }
    pos = next;
  }
  return StoreResult::Ok;
}

bool WriteAt(HANDLE file, unsigned long long offset, const std::string& bytes) {
  OVERLAPPED where = {};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &where) &&
         written == bytes.size();
}

}  // namespace

std::wstring IndexPath(const std::wstring& folderDirectory) { return folderDirectory + L"\\index.kvi"; }
std::wstring IndexLockPath(const std::wstring& folderDirectory) { return folderDirectory + L"\\index.lock"; }
std::wstring MessagesDirectory(const std::wstring& folderDirectory) { return folderDirectory + L"\\messages"; }

std::wstring MessageFileName(const ObjectId& id) {
  std::string hex = ObjectIdText(id);
  return std::wstring(hex.begin(), hex.end()) + L".msg";
}

std::string SerializeIndex(const std::vector<IndexEntry>& entries) {
  IndexCounts counts;
  std::string lines;
  for (const IndexEntry& entry : entries) {
    (entry.associated ? counts.associated : counts.contents)++;
    lines += EntryLine(entry);
  }
  return HeaderText(counts, kHeaderBytes + lines.size()) + lines;
}

StoreResult ParseIndex(const std::string& bytes, std::vector<IndexEntry>& out) {
  out.clear();
  if (bytes.empty()) return StoreResult::Ok;
  Header header;
  if (!ParseHeader(bytes.data(), bytes.size(), header)) return StoreResult::Corrupt;
  size_t end = CompleteLength(bytes);
  for (size_t pos = kHeaderBytes; pos < end;) {
    size_t next = bytes.find('\n', pos);
    std::string line = bytes.substr(pos, next - pos);
    pos = next + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    IndexEntry entry;
    if (!ParseEntry(line, entry)) return StoreResult::Corrupt;
    out.push_back(std::move(entry));
  }
  return StoreResult::Ok;
}

StoreResult ReadFolderIndex(const std::wstring& folderDirectory, std::vector<IndexEntry>& out) {
  out.clear();
  std::string bytes;
  FileRead read = ReadWholeFile(IndexPath(folderDirectory), bytes);
  if (read == FileRead::Missing) return StoreResult::Ok;
  if (read != FileRead::Ok) return read == FileRead::TooLarge ? StoreResult::Corrupt : StoreResult::IoError;
  return ParseIndex(bytes, out);
}

StoreResult ReadIndexCounts(const std::wstring& folderDirectory, IndexCounts& out) {
  out = IndexCounts();
  kvcommon::UniqueFile file(CreateFileW(IndexPath(folderDirectory).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? StoreResult::Ok : StoreResult::IoError;
  }
  // The header first, then the size: a header that still covers the size
  // was written after every line the file holds.
  char head[kHeaderBytes] = {};
  DWORD read = 0;
  if (!ReadFile(file.get(), head, sizeof head, &read, nullptr)) return StoreResult::IoError;
  if (read == 0) return StoreResult::Ok;
  Header header;
  if (!ParseHeader(head, read, header)) return StoreResult::Corrupt;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return StoreResult::IoError;
  if (static_cast<unsigned long long>(size.QuadPart) == header.covered) {
    out = header.counts;
    return StoreResult::Ok;
  }
  file.reset();
  std::string bytes;
  FileRead whole = ReadWholeFile(IndexPath(folderDirectory), bytes);
  if (whole == FileRead::Missing) return StoreResult::Ok;
  if (whole != FileRead::Ok) return whole == FileRead::TooLarge ? StoreResult::Corrupt : StoreResult::IoError;
  if (!ParseHeader(bytes.data(), bytes.size(), header)) return StoreResult::Corrupt;
  return CountLines(bytes, out);
}

StoreResult AppendFolderIndex(const std::wstring& folderDirectory, const IndexEntry& entry) {
  const std::string line = EntryLine(entry);
  FileLock lock(IndexLockPath(folderDirectory), 30000);
  if (!lock.held()) return StoreResult::IoError;
  kvcommon::UniqueFile file(CreateFileW(IndexPath(folderDirectory).c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return StoreResult::IoError;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return StoreResult::IoError;
  Header header;
  unsigned long long end = static_cast<unsigned long long>(size.QuadPart);
  if (end == 0) {
    header.covered = kHeaderBytes;
    if (!WriteAt(file.get(), 0, HeaderText(header.counts, header.covered))) return StoreResult::IoError;
    end = kHeaderBytes;
  } else {
    char head[kHeaderBytes] = {};
    DWORD read = 0;
    if (!ReadFile(file.get(), head, sizeof head, &read, nullptr)) return StoreResult::IoError;
    if (!ParseHeader(head, read, header)) return StoreResult::Corrupt;
    if (header.covered != end) {
      // A writer died between its line and its header: count again and cut
      // off a torn line before adding ours.
      file.reset();
      std::string bytes;
      FileRead whole = ReadWholeFile(IndexPath(folderDirectory), bytes);
      if (whole != FileRead::Ok) return whole == FileRead::TooLarge ? StoreResult::Corrupt : StoreResult::IoError;
      StoreResult counted = CountLines(bytes, header.counts);
      if (counted != StoreResult::Ok) return counted;
      file.reset(CreateFileW(IndexPath(folderDirectory).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) return StoreResult::IoError;
      end = CompleteLength(bytes);
      LARGE_INTEGER cut;
      cut.QuadPart = static_cast<LONGLONG>(end);
      if (!SetFilePointerEx(file.get(), cut, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) return StoreResult::IoError;
    }
  }
  if (!WriteAt(file.get(), end, line)) return StoreResult::IoError;
  (entry.associated ? header.counts.associated : header.counts.contents)++;
  // The header last: until it is written, readers count the lines themselves.
  if (!WriteAt(file.get(), 0, HeaderText(header.counts, end + line.size()))) return StoreResult::IoError;
  return StoreResult::Ok;
}

StoreResult WriteFolderIndexLocked(const std::wstring& folderDirectory, const std::vector<IndexEntry>& entries) {
  return WriteFileAtomically(IndexPath(folderDirectory), SerializeIndex(entries)) ? StoreResult::Ok : StoreResult::IoError;
}

}  // namespace provider
