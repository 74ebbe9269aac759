#include "folder_index.h"

#include <mapidefs.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "files.h"
#include "text.h"

namespace provider {
namespace {

constexpr char kHeaderFormat[] = "KVIDX 2 %010lu %010lu %020llu\n";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseDecimal(const char* text, size_t length, int64_t& out) {
  const bool negative = length > 0 && text[0] == '-';
  size_t i = negative ? 1 : 0;
  if (i == length || length > 20) return false;
  uint64_t value = 0;
  for (; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  out = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  return true;
}

bool ParseHex64(const char* text, size_t length, uint64_t& out) {
  if (length == 0 || length > 16) return false;
  out = 0;
  for (size_t i = 0; i < length; ++i) {
    int digit = HexDigit(text[i]);
    if (digit < 0) return false;
    out = out << 4 | static_cast<uint64_t>(digit);
  }
  return true;
}

bool ParseHexBytes(const char* text, size_t length, std::vector<uint8_t>& out) {
  if (length % 2) return false;
  out.resize(length / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<uint8_t>(high * 16 + low);
  }
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

bool DecodeValue(ULONG tag, const char* text, size_t length, Value& out) {
  out.tag = tag;
  out.number = 0;
  out.text.clear();
  out.bytes.clear();
  switch (PROP_TYPE(tag)) {
    case PT_LONG:
    case PT_I2:
    case PT_BOOLEAN:
      return ParseDecimal(text, length, out.number);
    case PT_I8:
    case PT_SYSTIME: {
      uint64_t bits = 0;
      if (!ParseHex64(text, length, bits)) return false;
      out.number = static_cast<int64_t>(bits);
      return true;
    }
    case PT_UNICODE:
    case PT_STRING8:
      return UnescapeLine(text, length, out.text);
    case PT_BINARY:
      return ParseHexBytes(text, length, out.bytes);
    default:
      return false;
  }
}

// One "<tag>:<value>" field into entry.properties[index], reusing what is there.
bool ParseValueField(const char* field, size_t length, IndexEntry& entry, size_t index) {
  if (length < 9 || field[8] != ':') return false;
  uint64_t tag = 0;
  if (!ParseHex64(field, 8, tag)) return false;
  if (entry.properties.size() <= index) entry.properties.resize(index + 1);
  return DecodeValue(static_cast<ULONG>(tag), field + 9, length - 9, entry.properties[index]);
}

// Calls visit(entry, offset) for every index line between the start and end.
template <typename Visit>
StoreResult ScanLines(HANDLE file, const IndexStart& start, uint64_t end, IndexDamage& damage, Visit visit) {
  damage = IndexDamage();
  damage.header = !start.header;
  IndexLineReader reader(file, start.linesBegin, end);
  IndexEntry entry;
  uint64_t lineNumber = start.header ? 1 : 0;
  const char* text = nullptr;
  size_t length = 0;
  uint64_t offset = 0;
  for (;;) {
    IndexLineReader::Step step = reader.Next(text, length, offset);
    if (step == IndexLineReader::Step::End) return StoreResult::Ok;
    if (step == IndexLineReader::Step::Failed) return StoreResult::IoError;
    ++lineNumber;
    if (length == 0) continue;
    if (!ParseIndexLine(text, length, entry)) {
      if (damage.badLines++ == 0) damage.firstBadLine = lineNumber;
      continue;
    }
    visit(entry, offset);
  }
}

}  // namespace

StoreResult OpenIndexForReading(const std::wstring& folderDirectory, kvcommon::UniqueFile& file) {
  file.reset(CreateFileW(IndexPath(folderDirectory).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return StoreResult::Ok;
  DWORD error = GetLastError();
  return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? StoreResult::NotFound
                                                                          : StoreResult::IoError;
}

namespace {

void AddTags(const IndexEntry& entry, std::vector<ULONG>& tags) {
  for (const Value& value : entry.properties) {
    auto at = std::lower_bound(tags.begin(), tags.end(), value.tag);
    if (at == tags.end() || *at != value.tag) tags.insert(at, value.tag);
  }
}

}  // namespace

std::wstring IndexPath(const std::wstring& folderDirectory) { return folderDirectory + L"\\index.kvi"; }
std::wstring IndexLockPath(const std::wstring& folderDirectory) { return folderDirectory + L"\\index.lock"; }

// ---- the format ----

std::string IndexHeader(const IndexCounts& counts, uint64_t covered) {
  char text[kIndexHeaderBytes + 1];
  snprintf(text, sizeof text, kHeaderFormat, static_cast<unsigned long>(counts.contents),
           static_cast<unsigned long>(counts.associated), static_cast<unsigned long long>(covered));
  return std::string(text, kIndexHeaderBytes);
}

bool ParseIndexHeader(const char* bytes, size_t size, IndexCounts& counts, uint64_t& covered) {
  // "KVIDX 2 " and three fixed-width numbers, each followed by one separator.
  if (size < kIndexHeaderBytes || memcmp(bytes, "KVIDX 2 ", 8) != 0 || bytes[18] != ' ' || bytes[29] != ' ' ||
      bytes[kIndexHeaderBytes - 1] != '\n')
    return false;
  int64_t contents = 0, associated = 0, bytesCovered = 0;
  if (!ParseDecimal(bytes + 8, 10, contents) || !ParseDecimal(bytes + 19, 10, associated) ||
      !ParseDecimal(bytes + 30, 20, bytesCovered) || contents < 0 || associated < 0 || contents > 0xFFFFFFFFll ||
      associated > 0xFFFFFFFFll || bytesCovered < 0)
    return false;
  counts.contents = static_cast<ULONG>(contents);
  counts.associated = static_cast<ULONG>(associated);
  covered = static_cast<uint64_t>(bytesCovered);
  return true;
}

std::string IndexLine(const IndexEntry& entry) {
  const std::string id = ObjectIdText(entry.id);
  std::string text = id + (entry.associated ? "\tA\t" : "\tC\t") + id + ".msg";
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

bool ParseIndexLine(const char* text, size_t length, IndexEntry& out) {
  size_t field = 0, values = 0;
  for (size_t at = 0;; ++field) {
    const char* tab = static_cast<const char*>(memchr(text + at, '\t', length - at));
    const size_t fieldEnd = tab ? static_cast<size_t>(tab - text) : length;
    const char* piece = text + at;
    const size_t pieceLength = fieldEnd - at;
    if (field == 0) {
      if (!ParseObjectId(piece, pieceLength, out.id)) return false;
    } else if (field == 1) {
      if (pieceLength != 1 || (piece[0] != 'A' && piece[0] != 'C')) return false;
      out.associated = piece[0] == 'A';
    } else if (field >= 3) {
      if (!ParseValueField(piece, pieceLength, out, values++)) return false;
    }
    if (!tab) break;
    at = fieldEnd + 1;
  }
  out.properties.resize(values);
  return field >= 2;
}

// ---- reading lines ----

IndexLineReader::IndexLineReader(HANDLE file, uint64_t begin, uint64_t end, size_t pieceBytes)
    : file_(file), end_(end), bufferStart_(begin), buffer_(pieceBytes) {}

bool IndexLineReader::Fill() {
  // Keep the unread part, then read behind it; a line longer than the
  // buffer makes the buffer grow.
  if (taken_ > 0) {
    memmove(buffer_.data(), buffer_.data() + taken_, filled_ - taken_);
    bufferStart_ += taken_;
    filled_ -= taken_;
    taken_ = 0;
  }
  if (filled_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  const uint64_t at = bufferStart_ + filled_;
  const uint64_t wanted = std::min<uint64_t>(buffer_.size() - filled_, end_ - at);
  DWORD read = 0;
  if (!ReadAt(file_, at, buffer_.data() + filled_, static_cast<DWORD>(wanted), read)) return false;
  filled_ += read;
  if (read == 0) end_ = at;  // the file is shorter than it was
  return true;
}

IndexLineReader::Step IndexLineReader::Next(const char*& text, size_t& length, uint64_t& offset) {
  for (;;) {
    const char* start = buffer_.data() + taken_;
    const char* feed = static_cast<const char*>(memchr(start, '\n', filled_ - taken_));
    if (feed) {
      text = start;
      length = static_cast<size_t>(feed - start);
      if (length > 0 && text[length - 1] == '\r') --length;
      offset = bufferStart_ + taken_;
      taken_ = static_cast<size_t>(feed - buffer_.data()) + 1;
      return Step::Line;
    }
    if (bufferStart_ + filled_ >= end_) return Step::End;
    if (!Fill()) return Step::Failed;
  }
}

StoreResult ReadIndexStart(HANDLE file, IndexStart& out) {
  out = IndexStart();
  // The header before the size: a writer appends its lines before it
  // rewrites the header, so the size read after a header is never below what
  // that header covers unless the file was cut.
  char head[kIndexHeaderBytes] = {};
  DWORD read = 0;
  if (!ReadAt(file, 0, head, sizeof head, read)) return StoreResult::IoError;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return StoreResult::IoError;
  out.size = static_cast<uint64_t>(size.QuadPart);
  out.header = ParseIndexHeader(head, read, out.counts, out.covered);
  out.linesBegin = out.header ? kIndexHeaderBytes : 0;
  return StoreResult::Ok;
}

// ---- readers ----

StoreResult ReadFolderIndex(const std::wstring& folderDirectory, std::vector<IndexEntry>& out, IndexDamage* damage) {
  out.clear();
  if (damage) *damage = IndexDamage();
  kvcommon::UniqueFile file;
  StoreResult opened = OpenIndexForReading(folderDirectory, file);
  if (opened != StoreResult::Ok) return opened == StoreResult::NotFound ? StoreResult::Ok : opened;
  IndexStart start;
  StoreResult result = ReadIndexStart(file.get(), start);
  if (result != StoreResult::Ok) return result;
  IndexDamage found;
  result = ScanLines(file.get(), start, start.size, found, [&out](const IndexEntry& entry, uint64_t) { out.push_back(entry); });
  // A writer appends before it rewrites the header: a file shorter than the
  // header's length was cut, never caught mid-posting.
  found.cut = start.header && start.size < start.covered;
  if (damage) *damage = found;
  return result;
}

StoreResult ReadIndexCounts(const std::wstring& folderDirectory, IndexCounts& out) {
  out = IndexCounts();
  kvcommon::UniqueFile file;
  StoreResult opened = OpenIndexForReading(folderDirectory, file);
  if (opened != StoreResult::Ok) return opened == StoreResult::NotFound ? StoreResult::Ok : opened;
  // The header, the size, the header again: a writer rewrites the header in
  // place, and a header read while it changes could mix two versions. Two
  // equal reads around a size they cover describe the whole file.
  IndexStart first, second;
  StoreResult result = ReadIndexStart(file.get(), first);
  if (result == StoreResult::Ok) result = ReadIndexStart(file.get(), second);
  if (result != StoreResult::Ok) return result;
  if (first.header && second.header && first.covered == second.covered && first.covered == first.size &&
      first.counts.contents == second.counts.contents && first.counts.associated == second.counts.associated) {
    out = first.counts;
    return StoreResult::Ok;
  }
  IndexDamage damage;
  return ScanLines(file.get(), second, second.size, damage, [&out](const IndexEntry& entry, uint64_t) {
    (entry.associated ? out.associated : out.contents)++;
  });
}

StoreResult IndexSnapshot::Open(const std::wstring& folderDirectory, bool associated) {
  associated_ = associated;
  count_ = 0;
  marks_.clear();
  tags_.clear();
  reader_.reset();
  damage_ = IndexDamage();
  StoreResult opened = OpenIndexForReading(folderDirectory, file_);
  if (opened == StoreResult::NotFound) return StoreResult::Ok;
  if (opened != StoreResult::Ok) return opened;
  IndexStart start;
  StoreResult result = ReadIndexStart(file_.get(), start);
  if (result != StoreResult::Ok) return result;
  end_ = start.size;
  result = ScanLines(file_.get(), start, end_, damage_, [this](const IndexEntry& entry, uint64_t offset) {
    if (entry.associated != associated_) return;
    if (count_ % kRowsPerMark == 0) marks_.push_back(offset);
    ++count_;
    AddTags(entry, tags_);
  });
  return result;
}

StoreResult IndexSnapshot::Read(size_t index, IndexEntry& out) {
  if (index >= count_) return StoreResult::NotFound;
  // Rows ahead within reach are read on from where the last read stopped.
  if (!reader_ || index < readerRow_ || index - readerRow_ > kRowsPerMark) {
    const size_t mark = index / kRowsPerMark;
    reader_.reset(new IndexLineReader(file_.get(), marks_[mark], end_, 64u << 10));
    readerRow_ = mark * kRowsPerMark;
  }
  const char* text = nullptr;
  size_t length = 0;
  uint64_t offset = 0;
  for (;;) {
    IndexLineReader::Step step = reader_->Next(text, length, offset);
    if (step != IndexLineReader::Step::Line) {
      reader_.reset();
      return step == IndexLineReader::Step::End ? StoreResult::Corrupt : StoreResult::IoError;
    }
    if (length == 0 || !ParseIndexLine(text, length, out) || out.associated != associated_) continue;
    if (readerRow_++ == index) return StoreResult::Ok;
  }
}

}  // namespace provider
