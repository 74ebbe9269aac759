// Tagged values: records of a 16-bit tag, a 16-bit length and the value's
// bytes (little-endian, no padding), kept in a file or in a growable memory
// buffer. Tag 0 and lengths above 0xFFF0 are malformed. Every operation
// answers a file result code (platform/file_utilities.h).
#pragma once

#include <windows.h>

#include <cstdint>

#include "options/sized_buffer.h"
#include "platform/file_utilities.h"

constexpr uint16_t kTLVLargestLength = 0xFFF0;
constexpr uint16_t kTLVHeaderSize = 4;

// Root of the descriptor hierarchy; holds no data.
class OstraObject {
 protected:
  OstraObject() noexcept = default;
  ~OstraObject() = default;  // descriptors are destroyed by TLVDestroy only
};

// The operations every store offers, in this virtual slot order. A store that
// does not implement one answers FR_FAILED.
class TLVDescriptor : public OstraObject {
 public:
  TLVDescriptor(const TLVDescriptor&) = delete;
  TLVDescriptor& operator=(const TLVDescriptor&) = delete;

  virtual bool IsFile() const noexcept;
  virtual bool IsMemory() const noexcept;
  virtual FileResult Close() noexcept;
  virtual FileResult ReadInPlace(uint16_t* tag, uint16_t* length, const void** value) noexcept;
  virtual FileResult Read(uint16_t* tag, uint16_t* length, SizedBuffer* value) noexcept;
  virtual FileResult Write(uint16_t tag, uint16_t length, const void* value) noexcept;
  virtual FileResult WriteBuffer(uint16_t tag, uint16_t length, SizedBuffer value) noexcept;
  // Moves to the next record with this tag, starting at the current one.
  virtual FileResult Find(uint16_t tag) noexcept;
  virtual FileResult Peek(uint16_t* tag, uint16_t* length) noexcept;
  virtual FileResult Skip() noexcept;

 protected:
  TLVDescriptor() noexcept = default;
  ~TLVDescriptor() = default;
};

// Records in a file, read and written at the file pointer. Used by: the
// report strings reader (report_strings.cpp), reading an exported report.
class TLVFile final : public TLVDescriptor {
 public:
  explicit TLVFile(HANDLE file) noexcept : file_(file) {}
  ~TLVFile() { Close(); }

  bool IsFile() const noexcept override;
  FileResult Close() noexcept override;
  FileResult ReadInPlace(uint16_t* tag, uint16_t* length, const void** value) noexcept override;
  FileResult Read(uint16_t* tag, uint16_t* length, SizedBuffer* value) noexcept override;
  FileResult Write(uint16_t tag, uint16_t length, const void* value) noexcept override;
  FileResult Peek(uint16_t* tag, uint16_t* length) noexcept override;
  FileResult Skip() noexcept override;
  virtual FileResult Seek(DWORD method, int32_t offset, uint32_t* newPosition) noexcept;
  virtual FileResult ReadBytes(uint16_t count, uint16_t* countRead, void* buffer) noexcept;
  virtual FileResult WriteBytes(uint16_t count, uint16_t* countWritten, const void* buffer) noexcept;

 private:
  HANDLE file_;
};

// Records in a SizedBuffer that the caller owns. A writer starts on a fresh
// 256-byte buffer and grows it; its destruction trims the buffer's length to
// the records written. A reader ends at the buffer's length. Positions are
// 16-bit, so a memory store holds at most 65,535 bytes of records. Part of
// the store's design beside TLVFile; no module path reads memory records.
class TLVMemory final : public TLVDescriptor {
 public:
  enum Mode : uint16_t { Reader = 0, Writer = 1 };
  TLVMemory(SizedBuffer* variable, Mode mode) noexcept : variable_(variable), data_(*variable), mode_(mode) {}

  bool IsMemory() const noexcept override;
  FileResult Close() noexcept override;
  FileResult ReadInPlace(uint16_t* tag, uint16_t* length, const void** value) noexcept override;
  FileResult Read(uint16_t* tag, uint16_t* length, SizedBuffer* value) noexcept override;
  FileResult Write(uint16_t tag, uint16_t length, const void* value) noexcept override;
  FileResult Peek(uint16_t* tag, uint16_t* length) noexcept override;
  FileResult Skip() noexcept override;
  virtual ~TLVMemory();

 private:
  SizedBuffer* variable_;  // the caller's handle variable, followed through resizes
  SizedBuffer data_;       // copy of *variable_; null after Close or a failed growth
  uint16_t position_ = 0;  // offset of the next record
  uint16_t mode_;
};

// Factories: *descriptor receives an object to release with TLVDestroy.
FileResult TLVCreateMemory(SizedBuffer* variable, TLVDescriptor** descriptor) noexcept;
FileResult TLVOpenMemory(SizedBuffer* variable, UINT access, TLVDescriptor** descriptor) noexcept;
FileResult TLVCreateFile(const wchar_t* path, UINT access, UINT share, TLVDescriptor** descriptor) noexcept;
FileResult TLVOpenFile(const wchar_t* path, UINT access, UINT share, TLVDescriptor** descriptor) noexcept;
// Closes and frees the descriptor (a writer's buffer is trimmed); the result of Close.
FileResult TLVDestroy(TLVDescriptor* descriptor) noexcept;

// The record operations. The module uses TLVOpenFile, TLVRead and TLVDestroy
// (the report strings); the rest complete the store and are its tests' own.
FileResult TLVPeek(TLVDescriptor* descriptor, uint16_t* tag, uint16_t* length) noexcept;
FileResult TLVReadInPlace(TLVDescriptor* descriptor, uint16_t* tag, uint16_t* length, const void** value) noexcept;
FileResult TLVRead(TLVDescriptor* descriptor, uint16_t* tag, uint16_t* length, SizedBuffer* value) noexcept;
FileResult TLVFind(TLVDescriptor* descriptor, uint16_t tag) noexcept;
FileResult TLVSkip(TLVDescriptor* descriptor) noexcept;
FileResult TLVWriteBuffer(TLVDescriptor* descriptor, uint16_t tag, uint16_t length, SizedBuffer value) noexcept;
FileResult TLVWrite(TLVDescriptor* descriptor, uint16_t tag, uint16_t length, const void* value) noexcept;
