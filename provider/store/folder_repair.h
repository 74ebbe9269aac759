// Writing a folder's index, and putting it right from the message files.
//
// Every writer holds the folder's index.lock. A posting takes it before it
// finishes its message file, then moves the file into place and appends the
// message's line, so whoever holds the lock finds every message either being
// composed (its .tmp file held open by its composer) or saved with its line.
// The message files are the truth: an index that does not describe them is
// rebuilt from them, never cut down.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <kvcommon/unique_resource.h>

#include "files.h"
#include "folder_index.h"
#include "object_id.h"
#include "store_result.h"

namespace provider {

// What a repair found and did.
struct RepairReport {
  bool rebuilt = false;          // the index was written anew from the files
  bool headerRewritten = false;  // the header did not describe the lines
  uint64_t linesKept = 0;
  uint64_t damagedLines = 0;     // lines that were not index lines, dropped
  uint64_t duplicateLines = 0;   // second lines of one message, dropped
  uint64_t linesWithoutFile = 0; // lines of messages whose file is gone, dropped
  uint64_t filesIndexed = 0;     // message files the index lacked, added
  uint64_t unreadableFiles = 0;  // message files the index lacks that cannot be read, left alone
  uint64_t staleFilesRemoved = 0;  // .tmp files no process holds (compositions, new indexes), deleted
  uint64_t filesMovedIntoBuckets = 0;  // message files of a store written before the buckets, moved
};

// Appends to a folder's index under its lock, which it holds from Begin until
// it is destroyed. Each append also writes the new counts into the folder's
// record in its parent's subfolders.kvc (folder_counts.h).
class IndexWriter {
 public:
  // folderId: the folder's id, read from its folder file when not given;
  // countsRecord: where its counts record was last found, kept across
  // writers of one folder.
  explicit IndexWriter(std::wstring folderDirectory, const ObjectId* folderId = nullptr,
                       std::atomic<uint64_t>* countsRecord = nullptr);
  IndexWriter(const IndexWriter&) = delete;
  IndexWriter& operator=(const IndexWriter&) = delete;

  // Takes the lock (waiting up to 30 s) and makes the index fit to be
  // appended to: a missing one is made (from the files, when there are
  // any), a torn last line is cut off, complete lines the header does not yet
  // count are counted, and an index whose header is damaged, or that is
  // shorter than its header says, or that holds a damaged line past it, is
  // rebuilt from the files.
  StoreResult Begin();
  // Notes in the lock file that a message file is about to be placed; the
  // next Append clears the note once the line and the folder's counts are
  // written. A posting killed in between leaves the note, and the next
  // opening for writing repairs the folder.
  StoreResult NotePlacing(const ObjectId& id);
  // How many messages the index lists (after Begin).
  uint64_t MessageCount() const { return uint64_t{counts_.contents} + counts_.associated; }
  // Adds lines and then the header that counts them.
  StoreResult Append(const std::vector<IndexEntry>& entries);

 private:
  StoreResult Inspect(bool& needsRebuild);

  std::wstring folderDirectory_;
  ObjectId folderId_{};
  bool folderIdKnown_ = false;
  std::atomic<uint64_t>* countsRecord_ = nullptr;
  std::unique_ptr<FileLock> lock_;
  bool noted_ = false;
  kvcommon::UniqueFile file_;
  IndexCounts counts_;
  uint64_t end_ = 0;
};

// Puts a folder right under its lock: deletes stale .tmp files (compositions
// whose process is gone, new indexes a crash left unplaced), and rebuilds
// the index when its header or a line is damaged, when it is shorter than its
// header says, when it names a message twice or one whose file is gone, or
// when a readable message file has no line (a posting killed between placing
// its file and writing its line, or a system crash). A header that does not
// match its lines is rewritten, and a placement's note cleared. Run by
// kvmapi-admin repair, and when a folder is opened for writing and
// CheckBeforeWriting finds it needed.
StoreResult RepairFolder(const std::wstring& folderDirectory, RepairReport& report);

// Whether a folder about to be written needs RepairFolder, judged under its
// lock without reading its message files or the whole index, so that its
// cost does not grow with the folder: a placement's note (a posting killed
// between placing its file and writing its line), an index whose header does
// not describe it or whose last lines are damaged (cut or torn by a crash),
// saved files in messages\ itself (a store written before the buckets), or
// none at all beside message buckets. Compositions and new indexes whose
// process is gone are deleted on the way. Damage
// that leaves none of these traces (a line lost in the middle of the index,
// a file placed before a system crash whose line never reached the disk) is
// repaired by kvmapi-admin repair; readers pass over it meanwhile.
StoreResult CheckBeforeWriting(const std::wstring& folderDirectory, bool& repairNeeded);

// Writes the index anew from the message files, keeping the lines of the old
// one that name an existing file (in their order) and adding the files it
// lacks (oldest first). The caller holds the index lock.
StoreResult RebuildFolderIndex(const std::wstring& folderDirectory, RepairReport& report);

}  // namespace provider
