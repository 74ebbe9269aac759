// The two byte interfaces the library is built on: a connection (TCP, TLS
// over anything, a test's recorder) and a source of bytes of known length (a
// file, a MIME message generated on the fly, memory).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <kvcommon/unique_resource.h>
#include <kvimap/status.h>

namespace kvimap {

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Waits for at least one byte; *received == 0 with Ok means the peer ended
  // the stream.
  [[nodiscard]] virtual Status ReadSome(void* buffer, size_t capacity, size_t* received) noexcept = 0;
  [[nodiscard]] virtual Status WriteAll(const void* data, size_t size) noexcept = 0;
  // Ends the stream politely (TLS close_notify, socket shutdown). The
  // destructor releases everything without it.
  virtual void Close() noexcept = 0;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The exact number of bytes Read delivers in all.
  virtual uint64_t Size() const noexcept = 0;
  // Up to capacity bytes; *received == 0 only at the end.
  [[nodiscard]] virtual Status Read(void* buffer, size_t capacity, size_t* received) noexcept = 0;
};

// A file read from its start; Size is the file's size when opened.
class FileSource final : public ByteSource {
 public:
  // Answers SourceFailed with the Windows error when the file cannot be opened.
  [[nodiscard]] Status Open(const std::wstring& path) noexcept;
  uint64_t Size() const noexcept override { return size_; }
  [[nodiscard]] Status Read(void* buffer, size_t capacity, size_t* received) noexcept override;

 private:
  kvcommon::UniqueFile file_;
  uint64_t size_ = 0;
};

// Bytes the caller keeps alive for the source's lifetime.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const void* data, size_t size) noexcept : data_(static_cast<const char*>(data)), size_(size) {}
  uint64_t Size() const noexcept override { return size_; }
  [[nodiscard]] Status Read(void* buffer, size_t capacity, size_t* received) noexcept override;

 private:
  const char* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace kvimap
