#include "options/sized_buffer.h"

#include <cstring>

#include "platform/wide_text.h"

namespace {

constexpr size_t kLengthFieldSize = sizeof(uint32_t);
// Keeps length + 4, rounded up to even, inside 32 bits on every build.
constexpr uint32_t kLargestLength = 0xFFFFFFF0u;

size_t BlockSize(uint32_t length) noexcept { return (static_cast<size_t>(length) + kLengthFieldSize + 1) & ~size_t{1}; }

unsigned char* BlockOf(SizedBuffer buffer) noexcept { return buffer - kLengthFieldSize; }

void StoreLength(unsigned char* block, uint32_t length) noexcept { std::memcpy(block, &length, sizeof(length)); }

}  // namespace

bool SizedBufferAlloc(SizedBuffer* buffer, uint32_t length) noexcept {
  if (!buffer) return false;
  *buffer = nullptr;
  if (length > kLargestLength) return false;
  auto* block = static_cast<unsigned char*>(ModuleAlloc(BlockSize(length)));  // zero-filled
  if (!block) return false;
  StoreLength(block, length);
  *buffer = block + kLengthFieldSize;
  return true;
}

void SizedBufferFree(SizedBuffer* buffer) noexcept {
  if (!buffer || !*buffer) return;
  ModuleFree(BlockOf(*buffer));
  *buffer = nullptr;
}

bool SizedBufferResize(SizedBuffer* buffer, uint32_t length) noexcept {
  if (!buffer) return false;
  if (!*buffer) return SizedBufferAlloc(buffer, length);
  if (length > kLargestLength) return false;
  uint32_t oldLength = SizedBufferLength(*buffer);
  auto* block = static_cast<unsigned char*>(ModuleRealloc(BlockOf(*buffer), BlockSize(length)));
  if (!block) {
    if (length > oldLength) return false;
    // Shrinking cannot fail: the old block is simply kept with the new length.
    block = BlockOf(*buffer);
  }
  // The heap zeroes only what lies beyond the old block; bytes between an
  // earlier shrunk length and the block's end may still hold old data.
  if (length > oldLength) std::memset(block + kLengthFieldSize + oldLength, 0, length - oldLength);
  StoreLength(block, length);
  *buffer = block + kLengthFieldSize;
  return true;
}

uint32_t SizedBufferLength(SizedBuffer buffer) noexcept {
  if (!buffer) return 0;
  uint32_t length = 0;
  std::memcpy(&length, BlockOf(buffer), sizeof(length));
  return length;
}
