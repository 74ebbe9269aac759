// A heap block that carries its own 32-bit byte length in the four bytes in
// front of the data. Callers hold a pointer to the data (null: no buffer) and
// own the block; the tagged-value stores only borrow it.
#pragma once

#include <cstdint>

using SizedBuffer = unsigned char*;

// Allocates n zero bytes (the block is n + 4 rounded up to even) and stores n
// as the length. On failure *buffer is null and the result is false.
bool SizedBufferAlloc(SizedBuffer* buffer, uint32_t length) noexcept;
// Frees a non-null buffer and sets *buffer to null.
void SizedBufferFree(SizedBuffer* buffer) noexcept;
// Reallocates to n bytes; bytes from the old length up to n are zero. On
// failure the result is false and the old buffer stays in *buffer. Shrinking
// never fails. A null *buffer is allocated.
bool SizedBufferResize(SizedBuffer* buffer, uint32_t length) noexcept;
uint32_t SizedBufferLength(SizedBuffer buffer) noexcept;

// Owner of a SizedBuffer for code that keeps one only for a while.
class ScopedSizedBuffer {
 public:
  ScopedSizedBuffer() noexcept = default;
  ~ScopedSizedBuffer() { SizedBufferFree(&buffer_); }
  ScopedSizedBuffer(const ScopedSizedBuffer&) = delete;
  ScopedSizedBuffer& operator=(const ScopedSizedBuffer&) = delete;

  SizedBuffer get() const noexcept { return buffer_; }
  // The variable itself, for the calls that fill or follow it.
  SizedBuffer* variable() noexcept { return &buffer_; }
  void reset() noexcept { SizedBufferFree(&buffer_); }

 private:
  SizedBuffer buffer_ = nullptr;
};
