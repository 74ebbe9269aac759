// An append-only output file written in large pieces. Until Keep() it is
// marked for deletion, so a process that dies while writing leaves nothing.
// Once a file outgrows its first full buffer, full buffers are written by a
// thread of the file's own while the caller fills the next one, so that a
// large file's writing overlaps the caller's reading of its source; a small
// file is written by the caller alone.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <kvcommon/unique_resource.h>

namespace msgfile {

class SequentialFile {
 public:
  // Writes go out in pieces of up to 1 MiB; the buffer starts small, so a
  // small file does not pay for a large one.
  static constexpr size_t kBufferBytes = 1u << 20;
  static constexpr size_t kFirstBufferBytes = 64u << 10;

  SequentialFile() = default;
  ~SequentialFile() { Discard(); }
  SequentialFile(const SequentialFile&) = delete;
  SequentialFile& operator=(const SequentialFile&) = delete;

  // Creates a new file; an existing file at path is never replaced.
  HRESULT Create(const wchar_t* path, bool markForDeletion = true) noexcept;
  bool IsOpen() const noexcept { return handle_.valid(); }

  HRESULT Append(const void* data, size_t size) noexcept;
  HRESULT AppendZeros(uint64_t count) noexcept;
  // Writes over bytes already appended (the header, written last).
  HRESULT WriteAt(uint64_t offset, const void* data, size_t size) noexcept;
  // Bytes appended so far, buffered ones included.
  uint64_t Size() const noexcept { return size_; }

  // Writes what is buffered, lifts the deletion mark and closes the file;
  // given finalPath, moves it there first (never over an existing file),
  // making missing directories. On failure the file is gone, or still open
  // and marked for Discard.
  HRESULT Keep(const wchar_t* finalPath = nullptr) noexcept;
  // Closes and deletes the file; nothing happens when none is open.
  void Discard() noexcept;

 private:
  HRESULT Place(const wchar_t* finalPath) noexcept;
  HRESULT Flush() noexcept;
  HRESULT Grow(size_t wanted) noexcept;
  HRESULT WriteAll(const uint8_t* data, size_t size) noexcept;
  // The full buffer to the writing thread; the caller goes on in the spare.
  HRESULT HandOff() noexcept;
  // Waits for the writing thread's buffer; the first failure it met.
  HRESULT Drain() noexcept;
  void StopWriting() noexcept;
  void WriteBehind() noexcept;

  kvcommon::UniqueFile handle_;
  std::wstring path_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  uint64_t size_ = 0;
  bool markedForDeletion_ = false;

  std::vector<uint8_t> spare_;  // the buffer being written behind
  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t pendingBytes_ = 0;  // of spare_, while busy_
  bool busy_ = false;
  bool stopping_ = false;
  HRESULT writeResult_ = S_OK;
};

}  // namespace msgfile
