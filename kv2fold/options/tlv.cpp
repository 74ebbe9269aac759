#include "options/tlv.h"

#include <cstring>
#include <new>

namespace {

// The largest byte offset a 16-bit position can reach: records of a memory
// store must end at or before it.
constexpr uint32_t kMemoryStoreLimit = 0xFFFF;
constexpr uint16_t kWriterStartSize = 256;
constexpr uint32_t kGrowthRoom = 256;

uint16_t LoadLE16(const unsigned char* bytes) noexcept { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

void StoreLE16(unsigned char* bytes, uint16_t value) noexcept {
  bytes[0] = static_cast<unsigned char>(value & 0xFF);
  bytes[1] = static_cast<unsigned char>(value >> 8);
}

bool IsValidHeader(uint16_t tag, uint16_t length) noexcept { return tag != 0 && length <= kTLVLargestLength; }

void StoreOut(uint16_t* out, uint16_t value) noexcept {
  if (out) *out = value;
}

}  // namespace

// ---- TLVDescriptor: what a store does not implement ----

bool TLVDescriptor::IsFile() const noexcept { return false; }
bool TLVDescriptor::IsMemory() const noexcept { return false; }
FileResult TLVDescriptor::Close() noexcept { return FR_OK; }
FileResult TLVDescriptor::ReadInPlace(uint16_t*, uint16_t*, const void**) noexcept { return FR_FAILED; }
FileResult TLVDescriptor::Read(uint16_t*, uint16_t*, SizedBuffer*) noexcept { return FR_FAILED; }
FileResult TLVDescriptor::Write(uint16_t, uint16_t, const void*) noexcept { return FR_FAILED; }
FileResult TLVDescriptor::Peek(uint16_t*, uint16_t*) noexcept { return FR_FAILED; }
FileResult TLVDescriptor::Skip() noexcept { return FR_FAILED; }

FileResult TLVDescriptor::WriteBuffer(uint16_t tag, uint16_t length, SizedBuffer value) noexcept {
  if (!value) return FR_NO_MEMORY;
  if (length > SizedBufferLength(value)) return FR_INVALID;  // would read past the buffer
  return Write(tag, length, value);
}

FileResult TLVDescriptor::Find(uint16_t tag) noexcept {
  for (;;) {
    uint16_t found = 0;
    uint16_t length = 0;
    if (Peek(&found, &length) == FR_OK && found == tag) return FR_OK;
    FileResult result = Skip();
    if (result != FR_OK) return result;
  }
}

// ---- TLVFile ----

bool TLVFile::IsFile() const noexcept { return true; }

FileResult TLVFile::Close() noexcept {
  if (file_ == INVALID_HANDLE_VALUE) return FR_OK;
  HANDLE file = file_;
  file_ = INVALID_HANDLE_VALUE;
  return FileClose(file);
}

FileResult TLVFile::ReadInPlace(uint16_t*, uint16_t*, const void**) noexcept {
  return FR_INVALID;  // a file cannot lend a pointer into its data
}

FileResult TLVFile::Seek(DWORD method, int32_t offset, uint32_t* newPosition) noexcept {
  return FileSeek(file_, method, offset, newPosition);
}

FileResult TLVFile::ReadBytes(uint16_t count, uint16_t* countRead, void* buffer) noexcept {
  return FileRead(file_, count, countRead, buffer);
}

FileResult TLVFile::WriteBytes(uint16_t count, uint16_t* countWritten, const void* buffer) noexcept {
  return FileWrite(file_, count, countWritten, buffer);
}

FileResult TLVFile::Peek(uint16_t* tag, uint16_t* length) noexcept {
  uint32_t start = 0;
  FileResult result = Seek(FILE_CURRENT, 0, &start);
  if (result != FR_OK) return result;
  unsigned char header[kTLVHeaderSize] = {};
  uint16_t got = 0;
  result = ReadBytes(kTLVHeaderSize, &got, header);
  if (result != FR_OK) return result;
  uint16_t foundTag = LoadLE16(header);
  uint16_t foundLength = LoadLE16(header + 2);
  if (!IsValidHeader(foundTag, foundLength)) return FR_BAD_FORMAT;
  StoreOut(tag, foundTag);
  StoreOut(length, foundLength);
  return Seek(FILE_BEGIN, static_cast<int32_t>(start), nullptr);
}

FileResult TLVFile::Skip() noexcept {
  uint16_t tag = 0;
  uint16_t length = 0;
  FileResult result = Peek(&tag, &length);
  if (result != FR_OK) return result;
  // Not checked against the file's end: the next Peek reports the end of data.
  return Seek(FILE_CURRENT, static_cast<int32_t>(length) + kTLVHeaderSize, nullptr);
}

FileResult TLVFile::Read(uint16_t* tag, uint16_t* length, SizedBuffer* value) noexcept {
  if (!value) return FR_INVALID;
  uint32_t start = 0;
  FileResult result = Seek(FILE_CURRENT, 0, &start);
  if (result != FR_OK) return result;
  auto restore = [this, start](FileResult failure) noexcept {
    Seek(FILE_BEGIN, static_cast<int32_t>(start), nullptr);
    return failure;
  };
  unsigned char header[kTLVHeaderSize] = {};
  uint16_t got = 0;
  result = ReadBytes(kTLVHeaderSize, &got, header);
  uint16_t foundTag = LoadLE16(header);
  uint16_t foundLength = LoadLE16(header + 2);
  StoreOut(tag, foundTag);
  StoreOut(length, foundLength);
  if (result != FR_OK) return restore(result);
  if (!IsValidHeader(foundTag, foundLength)) return restore(FR_BAD_FORMAT);
  if (foundLength == 0) return FR_OK;
  if (!SizedBufferAlloc(value, foundLength)) return restore(FR_NO_MEMORY);
  result = ReadBytes(foundLength, &got, *value);
  if (result == FR_END_OF_DATA) return restore(FR_BAD_FORMAT);  // the last value is cut short
  if (result != FR_OK) return restore(result);
  return FR_OK;
}

FileResult TLVFile::Write(uint16_t tag, uint16_t length, const void* value) noexcept {
  if (length > 0 && !value) return FR_INVALID;
  unsigned char header[kTLVHeaderSize];
  StoreLE16(header, tag);
  StoreLE16(header + 2, length);
  uint16_t written = 0;
  FileResult result = WriteBytes(kTLVHeaderSize, &written, header);
  if (result != FR_OK || length == 0) return result;
  return WriteBytes(length, &written, value);
}

// ---- TLVMemory ----

bool TLVMemory::IsMemory() const noexcept { return true; }

FileResult TLVMemory::Close() noexcept {
  data_ = nullptr;  // the buffer stays with its owner
  return FR_OK;
}

FileResult TLVMemory::Peek(uint16_t* tag, uint16_t* length) noexcept {
  if (!data_) return FR_INVALID;
  const uint32_t end = SizedBufferLength(data_);
  const uint32_t position = position_;
  if (position >= end) return FR_END_OF_DATA;
  if (position + kTLVHeaderSize > end) return FR_BAD_FORMAT;
  uint16_t foundTag = LoadLE16(data_ + position);
  uint16_t foundLength = LoadLE16(data_ + position + 2);
  const uint32_t recordEnd = position + kTLVHeaderSize + foundLength;
  if (!IsValidHeader(foundTag, foundLength) || recordEnd > end) return FR_BAD_FORMAT;
  if (recordEnd > kMemoryStoreLimit) return FR_BAD_FORMAT;  // a 16-bit position cannot pass it
  StoreOut(tag, foundTag);
  StoreOut(length, foundLength);
  return FR_OK;
}

FileResult TLVMemory::Skip() noexcept {
  uint16_t tag = 0;
  uint16_t length = 0;
  FileResult result = Peek(&tag, &length);
  if (result != FR_OK) return result;
  position_ = static_cast<uint16_t>(position_ + length + kTLVHeaderSize);
  return FR_OK;
}

FileResult TLVMemory::ReadInPlace(uint16_t* tag, uint16_t* length, const void** value) noexcept {
  uint16_t foundTag = 0;
  uint16_t foundLength = 0;
  FileResult result = Peek(&foundTag, &foundLength);
  if (result != FR_OK) return result;
  StoreOut(tag, foundTag);
  StoreOut(length, foundLength);
  if (value) *value = data_ + position_ + kTLVHeaderSize;
  return Skip();
}

FileResult TLVMemory::Read(uint16_t* tag, uint16_t* length, SizedBuffer* value) noexcept {
  if (!value) return FR_INVALID;
  uint16_t foundLength = 0;
  const void* source = nullptr;
  FileResult result = ReadInPlace(tag, &foundLength, &source);
  StoreOut(length, foundLength);
  if (result != FR_OK || foundLength == 0) return result;
  if (!SizedBufferAlloc(value, foundLength)) return FR_NO_MEMORY;
  std::memcpy(*value, source, foundLength);
  return FR_OK;
}

FileResult TLVMemory::Write(uint16_t tag, uint16_t length, const void* value) noexcept {
  if (!data_ || (length > 0 && !value)) return FR_INVALID;
  const uint32_t position = position_;
  const uint32_t recordEnd = position + kTLVHeaderSize + length;
  // The store is full: the position could not move past this record.
  if (recordEnd > kMemoryStoreLimit) return FR_NO_MEMORY;
  if (recordEnd > SizedBufferLength(data_)) {
    data_ = nullptr;
    // Room for the record and 256 bytes more, within what a position reaches.
    uint32_t grown = position + length + kTLVHeaderSize + kGrowthRoom;
    if (grown > kMemoryStoreLimit) grown = kMemoryStoreLimit;
    if (!SizedBufferResize(variable_, grown)) return FR_NO_MEMORY;
    data_ = *variable_;
  }
  StoreLE16(data_ + position, tag);
  StoreLE16(data_ + position + 2, length);
  if (length > 0) std::memcpy(data_ + position + kTLVHeaderSize, value, length);
  position_ = static_cast<uint16_t>(recordEnd);
  return FR_OK;
}

TLVMemory::~TLVMemory() {
  if (mode_ == Writer && *variable_) {
    SizedBufferResize(variable_, position_);  // shrinking cannot fail
    data_ = *variable_;
  }
  Close();
}

// ---- Free functions ----

FileResult TLVCreateMemory(SizedBuffer* variable, TLVDescriptor** descriptor) noexcept {
  if (!descriptor) return FR_INVALID;
  *descriptor = nullptr;
  if (!variable) return FR_INVALID;
  if (!SizedBufferAlloc(variable, kWriterStartSize)) return FR_NO_MEMORY;
  auto* memory = new (std::nothrow) TLVMemory(variable, TLVMemory::Writer);
  if (!memory) {
    SizedBufferFree(variable);
    return FR_NO_MEMORY;
  }
  *descriptor = memory;
  return FR_OK;
}

FileResult TLVOpenMemory(SizedBuffer* variable, UINT, TLVDescriptor** descriptor) noexcept {
  if (!descriptor) return FR_INVALID;
  *descriptor = nullptr;
  if (!variable || !*variable) return FR_INVALID;
  auto* memory = new (std::nothrow) TLVMemory(variable, TLVMemory::Reader);
  if (!memory) return FR_NO_MEMORY;
  *descriptor = memory;
  return FR_OK;
}

namespace {

FileResult WrapFile(HANDLE file, TLVDescriptor** descriptor) noexcept {
  auto* wrapped = new (std::nothrow) TLVFile(file);
  if (!wrapped) {
    FileClose(file);
    return FR_NO_MEMORY;
  }
  *descriptor = wrapped;
  return FR_OK;
}

}  // namespace

FileResult TLVCreateFile(const wchar_t* path, UINT access, UINT share, TLVDescriptor** descriptor) noexcept {
  if (!descriptor) return FR_INVALID;
  *descriptor = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  FileResult result = FileCreate(path, access, share, &file);
  if (result != FR_OK) return result;
  return WrapFile(file, descriptor);
}

FileResult TLVOpenFile(const wchar_t* path, UINT access, UINT share, TLVDescriptor** descriptor) noexcept {
  if (!descriptor) return FR_INVALID;
  *descriptor = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  FileResult result = FileOpen(path, access, share, &file);
  if (result != FR_OK) return result;
  return WrapFile(file, descriptor);
}

FileResult TLVDestroy(TLVDescriptor* descriptor) noexcept {
  if (!descriptor) return FR_OK;
  FileResult result = descriptor->Close();
  // Only the factories make descriptors, so each is one of the two stores.
  if (descriptor->IsMemory()) {
    delete static_cast<TLVMemory*>(descriptor);
  } else if (descriptor->IsFile()) {
    delete static_cast<TLVFile*>(descriptor);
  }
  return result;
}

FileResult TLVPeek(TLVDescriptor* descriptor, uint16_t* tag, uint16_t* length) noexcept {
  return descriptor ? descriptor->Peek(tag, length) : FR_INVALID;
}

FileResult TLVReadInPlace(TLVDescriptor* descriptor, uint16_t* tag, uint16_t* length, const void** value) noexcept {
  return descriptor ? descriptor->ReadInPlace(tag, length, value) : FR_INVALID;
}

FileResult TLVRead(TLVDescriptor* descriptor, uint16_t* tag, uint16_t* length, SizedBuffer* value) noexcept {
  return descriptor ? descriptor->Read(tag, length, value) : FR_INVALID;
}

FileResult TLVFind(TLVDescriptor* descriptor, uint16_t tag) noexcept {
  return descriptor ? descriptor->Find(tag) : FR_INVALID;
}

FileResult TLVSkip(TLVDescriptor* descriptor) noexcept { return descriptor ? descriptor->Skip() : FR_INVALID; }

FileResult TLVWriteBuffer(TLVDescriptor* descriptor, uint16_t tag, uint16_t length, SizedBuffer value) noexcept {
  return descriptor ? descriptor->WriteBuffer(tag, length, value) : FR_INVALID;
}

FileResult TLVWrite(TLVDescriptor* descriptor, uint16_t tag, uint16_t length, const void* value) noexcept {
  return descriptor ? descriptor->Write(tag, length, value) : FR_INVALID;
}
