#include "folder_repair.h"

#include <algorithm>

#include "folder_counts.h"
#include "message_files.h"

namespace provider {
namespace {

constexpr DWORD kLockWaitMs = 30000;
constexpr size_t kOutputPiece = 1u << 20;

bool WriteAt(HANDLE file, uint64_t offset, const std::string& bytes) {
  return provider::WriteAt(file, offset, bytes.data(), bytes.size());
}

bool CutAt(HANDLE file, uint64_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

void Count(IndexCounts& counts, bool associated) { (associated ? counts.associated : counts.contents)++; }

kvcommon::UniqueFile OpenForWriting(const std::wstring& path, DWORD disposition) {
  return kvcommon::UniqueFile(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The new index of a rebuild, written piecewise beside the old one.
class IndexOutput {
 public:
  explicit IndexOutput(const std::wstring& indexPath) : target_(indexPath), path_(TemporaryNameBeside(indexPath)) {}
  ~IndexOutput() {
    if (file_) {
      file_.reset();
      DeleteFileW(path_.c_str());
    }
  }
  bool Create() {
    file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_ && Add(IndexHeader(IndexCounts(), kIndexHeaderBytes));
  }
  bool AddLine(const char* text, size_t length, bool associated) {
    Count(counts_, associated);
    pending_.append(text, length);
    pending_ += '\n';
    return pending_.size() < kOutputPiece || Flush();
  }
  bool AddEntry(const IndexEntry& entry) {
    const std::string line = IndexLine(entry);
    return AddLine(line.data(), line.size() - 1, entry.associated);
  }
  // Writes the header that counts the lines and moves the file into place.
  bool Finish() {
    if (!Flush() || !WriteAt(file_.get(), 0, IndexHeader(counts_, size_))) return false;
    FlushFileBuffers(file_.get());
    file_.reset();
    return MoveIntoPlace(path_, target_);
  }

 private:
  bool Add(const std::string& bytes) {
    pending_ += bytes;
    return Flush();
  }
  bool Flush() {
    if (pending_.empty()) return true;
    if (!WriteAt(file_.get(), size_, pending_)) return false;
    size_ += pending_.size();
    pending_.clear();
    return true;
  }

  std::wstring target_;
  std::wstring path_;
  kvcommon::UniqueFile file_;
  std::string pending_;
  uint64_t size_ = 0;
  IndexCounts counts_;
};

// Copies the old index's good lines whose file exists; marks their files taken.
StoreResult KeepGoodLines(const std::wstring& folderDirectory, const MessageFileListing& listing,
                          std::vector<bool>& taken, IndexOutput& output, RepairReport& report) {
  kvcommon::UniqueFile old;
  if (OpenIndexForReading(folderDirectory, old) != StoreResult::Ok) return StoreResult::Ok;  // nothing to keep
  IndexStart start;
  StoreResult result = ReadIndexStart(old.get(), start);
  if (result != StoreResult::Ok) return result;
  IndexLineReader reader(old.get(), start.linesBegin, start.size);
  IndexEntry entry;
  const char* text = nullptr;
  size_t length = 0;
  uint64_t offset = 0;
  for (;;) {
    IndexLineReader::Step step = reader.Next(text, length, offset);
    if (step == IndexLineReader::Step::End) return StoreResult::Ok;
    if (step == IndexLineReader::Step::Failed) return StoreResult::IoError;
    if (length == 0) continue;
    if (!ParseIndexLine(text, length, entry)) {
      ++report.damagedLines;
      continue;
    }
    auto at = std::lower_bound(listing.saved.begin(), listing.saved.end(), entry.id,
                               [](const MessageFileListing::Saved& s, const ObjectId& id) { return s.id < id; });
    if (at == listing.saved.end() || at->id != entry.id) {
      ++report.linesWithoutFile;
      continue;
    }
    const size_t index = static_cast<size_t>(at - listing.saved.begin());
    if (taken[index]) {
      ++report.duplicateLines;
      continue;
    }
    taken[index] = true;
    ++report.linesKept;
    if (!output.AddLine(text, length, entry.associated)) return StoreResult::IoError;
  }
}

// The lines of an index, read once for a check.
struct IndexSurvey {
  bool exists = false;
  IndexStart start;
  IndexCounts counted;
  uint64_t linesEnd = 0;  // after the last complete line
  uint64_t damagedLines = 0;
  std::vector<ObjectId> ids;  // sorted
};

StoreResult SurveyIndex(const std::wstring& folderDirectory, IndexSurvey& out) {
  kvcommon::UniqueFile file;
  const StoreResult opened = OpenIndexForReading(folderDirectory, file);
  if (opened != StoreResult::Ok) return opened == StoreResult::NotFound ? StoreResult::Ok : opened;
  out.exists = true;
  StoreResult result = ReadIndexStart(file.get(), out.start);
  if (result != StoreResult::Ok) return result;
  IndexLineReader reader(file.get(), out.start.linesBegin, out.start.size);
  IndexEntry entry;
  const char* text = nullptr;
  size_t length = 0;
  uint64_t offset = 0;
  for (;;) {
    IndexLineReader::Step step = reader.Next(text, length, offset);
    if (step == IndexLineReader::Step::Failed) return StoreResult::IoError;
    if (step == IndexLineReader::Step::End) break;
    if (length == 0) continue;
    if (!ParseIndexLine(text, length, entry)) {
      ++out.damagedLines;
      continue;
    }
    Count(out.counted, entry.associated);
    out.ids.push_back(entry.id);
  }
  out.linesEnd = reader.position();
  std::sort(out.ids.begin(), out.ids.end());
  return StoreResult::Ok;
}

// The saved files the survey's lines do not name.
std::vector<size_t> FilesWithoutLine(const MessageFileListing& listing, const IndexSurvey& survey) {
  std::vector<size_t> missing;
  for (size_t i = 0; i < listing.saved.size(); ++i)
    if (!std::binary_search(survey.ids.begin(), survey.ids.end(), listing.saved[i].id)) missing.push_back(i);
  return missing;
}

bool NeedsRebuild(const MessageFileListing& listing, const IndexSurvey& survey) {
  if (!survey.exists) return !listing.saved.empty();
  if (!survey.start.header || survey.start.covered < kIndexHeaderBytes || survey.start.size < survey.start.covered ||
      survey.damagedLines > 0)
    return true;
  if (std::adjacent_find(survey.ids.begin(), survey.ids.end()) != survey.ids.end()) return true;
  for (const ObjectId& id : survey.ids)
    if (!HasSavedFile(listing, id)) return true;
  return false;
}

// A header that does not describe its lines is rewritten; a torn line after
// them is cut off.
StoreResult MatchHeader(const std::wstring& folderDirectory, const IndexSurvey& survey, RepairReport& report) {
  const IndexStart& start = survey.start;
  if (start.counts.contents == survey.counted.contents && start.counts.associated == survey.counted.associated &&
      start.covered == survey.linesEnd && start.size == survey.linesEnd)
    return StoreResult::Ok;
  kvcommon::UniqueFile file = OpenForWriting(IndexPath(folderDirectory), OPEN_EXISTING);
  if (!file) return StoreResult::IoError;
  if (start.size > survey.linesEnd && !CutAt(file.get(), survey.linesEnd)) return StoreResult::IoError;
  if (!WriteAt(file.get(), 0, IndexHeader(survey.counted, survey.linesEnd))) return StoreResult::IoError;
  report.headerRewritten = true;
  return StoreResult::Ok;
}

// New indexes that a crash stopped before they were moved into place.
uint64_t RemoveStaleIndexFiles(const std::wstring& folderDirectory) {
  uint64_t removed = 0;
  WIN32_FIND_DATAW data;
  kvcommon::UniqueFind find(FindFirstFileW((IndexPath(folderDirectory) + L".tmp-*").c_str(), &data));
  if (find) {
    do {
      if (RemoveIfStale(folderDirectory + L"\\" + data.cFileName)) ++removed;
    } while (FindNextFileW(find.get(), &data));
  }
  return removed;
}

// How far back from its end CheckIndexEnd reads an index: where a crash
// tears or zeroes the last writes.
constexpr uint64_t kIndexEndBytes = 64u << 10;

// Whether an index's header describes the file and its last lines are whole
// index lines.
StoreResult CheckIndexEnd(const std::wstring& folderDirectory, bool& exists, bool& sound) {
  exists = sound = false;
  kvcommon::UniqueFile file;
  const StoreResult opened = OpenIndexForReading(folderDirectory, file);
  if (opened != StoreResult::Ok) return opened == StoreResult::NotFound ? StoreResult::Ok : opened;
  exists = true;
  IndexStart start;
  StoreResult result = ReadIndexStart(file.get(), start);
  if (result != StoreResult::Ok) return result;
  if (!start.header || start.covered < kIndexHeaderBytes || start.size != start.covered) return StoreResult::Ok;
  const uint64_t from = std::max(start.linesBegin, start.size > kIndexEndBytes ? start.size - kIndexEndBytes : 0);
  IndexLineReader reader(file.get(), from, start.size, static_cast<size_t>(kIndexEndBytes));
  IndexEntry entry;
  const char* text = nullptr;
  size_t length = 0;
  uint64_t offset = 0;
  // Read from the middle of the file, the first line is a part of one.
  bool first = from > start.linesBegin;
  for (;;) {
    IndexLineReader::Step step = reader.Next(text, length, offset);
    if (step == IndexLineReader::Step::Failed) return StoreResult::IoError;
    if (step == IndexLineReader::Step::End) break;
    if (first || length == 0) {
      first = false;
      continue;
    }
    if (!ParseIndexLine(text, length, entry)) return StoreResult::Ok;
  }
  sound = reader.position() == start.size;
  return StoreResult::Ok;
}

StoreResult RepairLocked(const std::wstring& folderDirectory, RepairReport& report);

}  // namespace

// ---- appending ----

IndexWriter::IndexWriter(std::wstring folderDirectory, const ObjectId* folderId, std::atomic<uint64_t>* countsRecord)
    : folderDirectory_(std::move(folderDirectory)), countsRecord_(countsRecord) {
  if (folderId) {
    folderId_ = *folderId;
    folderIdKnown_ = true;
  }
}

StoreResult IndexWriter::Begin() {
  lock_.reset(new FileLock(IndexLockPath(folderDirectory_), kLockWaitMs, true));
  if (!lock_->held()) return StoreResult::IoError;
  // A holder killed while it placed a message left its note: the file may
  // lack its line. This writer's own note would wipe that trace.
  std::string note;
  if (!lock_->ReadNote(note)) return StoreResult::IoError;
  bool needsRebuild = !note.empty();
  StoreResult result = needsRebuild ? StoreResult::Ok : Inspect(needsRebuild);
  if (result != StoreResult::Ok || !needsRebuild) return result;
  file_.reset();
  RepairReport report;
  result = RebuildFolderIndex(folderDirectory_, report);
  if (result != StoreResult::Ok) return result;
  if (!note.empty() && !lock_->ClearNote()) return StoreResult::IoError;
  result = Inspect(needsRebuild);
  return result == StoreResult::Ok && needsRebuild ? StoreResult::Corrupt : result;
}

StoreResult IndexWriter::Inspect(bool& needsRebuild) {
  needsRebuild = false;
  const std::wstring path = IndexPath(folderDirectory_);
  file_ = OpenForWriting(path, OPEN_EXISTING);
  if (!file_) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return StoreResult::IoError;
    MessageFileListing listing;
    StoreResult listed = ListMessageFiles(folderDirectory_, listing);
    if (listed != StoreResult::Ok) return listed;
    if (!listing.saved.empty()) return needsRebuild = true, StoreResult::Ok;
    // Made whole in one step, so that no reader ever sees a part of a header.
    if (!WriteFileAtomically(path, IndexHeader(IndexCounts(), kIndexHeaderBytes))) return StoreResult::IoError;
    file_ = OpenForWriting(path, OPEN_EXISTING);
    if (!file_) return StoreResult::IoError;
  }
  IndexStart start;
  StoreResult result = ReadIndexStart(file_.get(), start);
  if (result != StoreResult::Ok) return result;
  // Only an append makes the file longer than its header says; nothing
  // makes it shorter.
  if (!start.header || start.covered < kIndexHeaderBytes || start.size < start.covered)
    return needsRebuild = true, StoreResult::Ok;
  counts_ = start.counts;
  end_ = start.covered;
  if (start.size == start.covered) return StoreResult::Ok;
  // A writer died between its lines and its header: complete lines count,
  // a torn last one is cut off.
  IndexLineReader reader(file_.get(), start.covered, start.size);
  IndexEntry entry;
  const char* text = nullptr;
  size_t length = 0;
  uint64_t offset = 0;
  for (;;) {
    IndexLineReader::Step step = reader.Next(text, length, offset);
    if (step == IndexLineReader::Step::Failed) return StoreResult::IoError;
    if (step == IndexLineReader::Step::End) break;
    if (length == 0) continue;
    if (!ParseIndexLine(text, length, entry)) return needsRebuild = true, StoreResult::Ok;
    Count(counts_, entry.associated);
  }
  end_ = reader.position();
  if (end_ < start.size && !CutAt(file_.get(), end_)) return StoreResult::IoError;
  return WriteAt(file_.get(), 0, IndexHeader(counts_, end_)) ? StoreResult::Ok : StoreResult::IoError;
}

StoreResult IndexWriter::NotePlacing(const ObjectId& id) {
  if (!lock_ || !lock_->WriteNote("placing " + ObjectIdText(id))) return StoreResult::IoError;
  noted_ = true;
  return StoreResult::Ok;
}

StoreResult IndexWriter::Append(const std::vector<IndexEntry>& entries) {
  if (!file_) return StoreResult::IoError;
  std::string lines;
  IndexCounts counts = counts_;
  for (const IndexEntry& entry : entries) {
    lines += IndexLine(entry);
    Count(counts, entry.associated);
  }
  if (!WriteAt(file_.get(), end_, lines)) return StoreResult::IoError;
  // The header last: until it is written, readers count the lines themselves.
  if (!WriteAt(file_.get(), 0, IndexHeader(counts, end_ + lines.size()))) return StoreResult::IoError;
  counts_ = counts;
  end_ += lines.size();
  // The folder's row follows, still under the lock. A failure here leaves
  // the row behind until the next posting or repair; the lines are written
  // either way.
  if (!folderIdKnown_) folderIdKnown_ = ReadFolderId(folderDirectory_, folderId_);
  if (folderIdKnown_) {
    uint64_t record = countsRecord_ ? countsRecord_->load() : kNoCountsRecord;
    WriteFolderCounts(folderDirectory_, folderId_, counts_, record);
    if (countsRecord_) countsRecord_->store(record);
  }
  // The message is saved: a note that cannot be cleared only costs the
  // next writer a repair.
  if (noted_) lock_->ClearNote();
  noted_ = false;
  return StoreResult::Ok;
}

// ---- repairing ----

StoreResult RebuildFolderIndex(const std::wstring& folderDirectory, RepairReport& report) {
  MessageFileListing listing;
  StoreResult result = ListMessageFiles(folderDirectory, listing);
  if (result != StoreResult::Ok) return result;
  IndexOutput output(IndexPath(folderDirectory));
  if (!output.Create()) return StoreResult::IoError;
  std::vector<bool> taken(listing.saved.size(), false);
  result = KeepGoodLines(folderDirectory, listing, taken, output, report);
  if (result != StoreResult::Ok) return result;
  std::vector<size_t> missing;
  for (size_t i = 0; i < taken.size(); ++i)
    if (!taken[i]) missing.push_back(i);
  std::sort(missing.begin(), missing.end(), [&listing](size_t a, size_t b) {
    const MessageFileListing::Saved &x = listing.saved[a], &y = listing.saved[b];
    return x.written != y.written ? x.written < y.written : x.id < y.id;
  });
  for (size_t i : missing) {
    IndexEntry entry;
    const ObjectId& id = listing.saved[i].id;
    if (ReadIndexEntry(SavedFilePath(folderDirectory, listing.saved[i]), id, entry) != StoreResult::Ok) {
      ++report.unreadableFiles;
      continue;
    }
    if (!output.AddEntry(entry)) return StoreResult::IoError;
    ++report.filesIndexed;
  }
  if (!output.Finish()) return StoreResult::IoError;
  report.rebuilt = true;
  return StoreResult::Ok;
}

StoreResult RepairFolder(const std::wstring& folderDirectory, RepairReport& report) {
  report = RepairReport();
  FileLock lock(IndexLockPath(folderDirectory), kLockWaitMs, true);
  if (!lock.held()) return StoreResult::IoError;
  StoreResult result = RepairLocked(folderDirectory, report);
  return result == StoreResult::Ok && !lock.ClearNote() ? StoreResult::IoError : result;
}

StoreResult CheckBeforeWriting(const std::wstring& folderDirectory, bool& repairNeeded) {
  repairNeeded = false;
  FileLock lock(IndexLockPath(folderDirectory), kLockWaitMs, true);
  if (!lock.held()) return StoreResult::IoError;
  std::string note;
  if (!lock.ReadNote(note)) return StoreResult::IoError;
  MessageDirectoryTops tops;
  StoreResult result = ListMessageDirectoryTops(folderDirectory, tops);
  if (result != StoreResult::Ok) return result;
  for (const std::wstring& path : tops.composing) RemoveIfStale(path);
  RemoveStaleIndexFiles(folderDirectory);
  bool indexExists = false, indexSound = false;
  result = CheckIndexEnd(folderDirectory, indexExists, indexSound);
  if (result != StoreResult::Ok) return result;
  repairNeeded = !note.empty() || tops.unbucketed > 0 || (indexExists ? !indexSound : tops.buckets > 0);
  return StoreResult::Ok;
}

namespace {

StoreResult RepairLocked(const std::wstring& folderDirectory, RepairReport& report) {
  MessageFileListing listing;
  StoreResult result = ListMessageFiles(folderDirectory, listing);
  if (result != StoreResult::Ok) return result;
  for (const std::wstring& path : listing.composing)
    if (RemoveIfStale(path)) ++report.staleFilesRemoved;
  if (!MoveIntoBuckets(folderDirectory, listing, report.filesMovedIntoBuckets)) return StoreResult::IoError;
  report.staleFilesRemoved += RemoveStaleIndexFiles(folderDirectory);
  IndexSurvey survey;
  result = SurveyIndex(folderDirectory, survey);
  if (result != StoreResult::Ok) return result;
  bool rebuild = NeedsRebuild(listing, survey);
  uint64_t unreadable = 0;
  if (!rebuild) {
    // Files without a line are added when they can be read; one that cannot
    // is left alone and reported, without rewriting the index for it.
    for (size_t i : FilesWithoutLine(listing, survey)) {
      IndexEntry entry;
      if (ReadIndexEntry(SavedFilePath(folderDirectory, listing.saved[i]), listing.saved[i].id, entry) == StoreResult::Ok)
        rebuild = true;
      else
        ++unreadable;
    }
  }
  if (rebuild) {
    report.unreadableFiles = 0;
    return RebuildFolderIndex(folderDirectory, report);
  }
  report.unreadableFiles = unreadable;
  report.linesKept = survey.ids.size();
  return survey.exists ? MatchHeader(folderDirectory, survey, report) : StoreResult::Ok;
}

}  // namespace

}  // namespace provider
