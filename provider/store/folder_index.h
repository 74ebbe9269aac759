// The message index of a folder (index.kvi): what its contents tables show.
//
// The index lists every message of the folder with the properties its
// contents table row shows, so that a table never opens a message file:
//   KVIDX 2 <contents> <associated> <bytes covered>      fixed-width header
//   <id> TAB A|C TAB <file name> TAB <tag>:<value> ...   one line per message
// Writers (folder_repair.h) append a line and then rewrite the header in
// place, under index.lock; the header's byte count says how much of the file
// its counts describe. Readers take no lock: they read complete lines only,
// so a message appears with its whole line or not at all, and they pass over
// a line that is not an index line (a damaged one) instead of failing the
// folder. The message files are the truth; the index is rebuilt from them
// when it is damaged. The file name field is never used: a message's
// file is named after its id.
//
// Nothing here holds the index in memory whole: it is read piecewise, so an
// index of any size the disk holds can be listed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <kvcommon/unique_resource.h>

#include "message_paths.h"  // where the messages the index lists live
#include "object_id.h"
#include "store_result.h"
#include "value.h"

namespace provider {

// One message: its id, whether it is folder-associated and the properties
// its contents table row shows.
struct IndexEntry {
  ObjectId id{};
  bool associated = false;
  std::vector<Value> properties;
};

struct IndexCounts {
  ULONG contents = 0;
  ULONG associated = 0;
};

// What a reader passed over.
struct IndexDamage {
  bool header = false;        // missing or unreadable header (an empty file too)
  uint64_t badLines = 0;      // complete lines that are not index lines
  uint64_t firstBadLine = 0;  // the first of them, counting the header as line 1
  bool cut = false;           // shorter than its header says: lines at its end are lost
};

std::wstring IndexPath(const std::wstring& folderDirectory);
std::wstring IndexLockPath(const std::wstring& folderDirectory);
// Opens the index for reading, shared for writing and deleting (writers
// append and repairs replace the file while it is read; a reader keeps the
// file it opened). NotFound when there is none.
StoreResult OpenIndexForReading(const std::wstring& folderDirectory, kvcommon::UniqueFile& file);

// ---- the format ----

constexpr size_t kIndexHeaderBytes = 51;
std::string IndexHeader(const IndexCounts& counts, uint64_t covered);
bool ParseIndexHeader(const char* bytes, size_t size, IndexCounts& counts, uint64_t& covered);
// One line with its line feed.
std::string IndexLine(const IndexEntry& entry);
// A line without its line feed; false for anything IndexLine cannot have made.
bool ParseIndexLine(const char* text, size_t length, IndexEntry& out);

// The complete lines of a file between two offsets, read piece by piece. A
// last line without its line feed (an append under way, or torn) is not given.
class IndexLineReader {
 public:
  IndexLineReader(HANDLE file, uint64_t begin, uint64_t end, size_t pieceBytes = 1u << 20);
  enum class Step { Line, End, Failed };
  // The next line, without its line feed and a carriage return before it;
  // text stays valid until the next call. offset: where the line starts.
  Step Next(const char*& text, size_t& length, uint64_t& offset);
  // Where the line after the last one given starts.
  uint64_t position() const { return bufferStart_ + taken_; }

 private:
  bool Fill();

  HANDLE file_;
  uint64_t end_;
  uint64_t bufferStart_;  // file offset of buffer_[0]
  std::vector<char> buffer_;
  size_t taken_ = 0;   // bytes of buffer_ already given out
  size_t filled_ = 0;  // bytes of buffer_ read
};

// Where the lines of an open index start: after a readable header, else at
// the top (every line is then judged on its own). covered is 0 without one.
struct IndexStart {
  bool header = false;
  IndexCounts counts;
  uint64_t covered = 0;
  uint64_t size = 0;
  uint64_t linesBegin = 0;
};
StoreResult ReadIndexStart(HANDLE file, IndexStart& out);

// ---- readers ----

// Every message of the index, in the order they were saved. A missing index
// is an empty folder.
StoreResult ReadFolderIndex(const std::wstring& folderDirectory, std::vector<IndexEntry>& out,
                            IndexDamage* damage = nullptr);
// The counts: from the header alone when it describes the whole file, else
// by reading the lines.
StoreResult ReadIndexCounts(const std::wstring& folderDirectory, IndexCounts& out);

// The messages of one kind (contents or associated) as the index held them
// when it was opened. It keeps the file open and the place of every 64th row,
// and reads a row when it is asked for, so that a table of a million rows
// opens without holding them.
class IndexSnapshot {
 public:
  StoreResult Open(const std::wstring& folderDirectory, bool associated);
  size_t Count() const { return count_; }
  const IndexDamage& Damage() const { return damage_; }
  // Every property tag the rows hold, sorted.
  const std::vector<ULONG>& Tags() const { return tags_; }
  // Row index (below Count()); rows read in order cost one line each.
  StoreResult Read(size_t index, IndexEntry& out);

 private:
  static constexpr size_t kRowsPerMark = 64;
  kvcommon::UniqueFile file_;
  bool associated_ = false;
  uint64_t end_ = 0;
  size_t count_ = 0;
  std::vector<uint64_t> marks_;  // where rows 0, 64, 128, ... start
  IndexDamage damage_;
  std::vector<ULONG> tags_;
  std::unique_ptr<IndexLineReader> reader_;
  size_t readerRow_ = 0;  // the row the reader gives next
};

}  // namespace provider
