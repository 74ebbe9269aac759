// Bounded wide-string helpers and the module's heap, used by every subsystem.
#pragma once

#include <windows.h>

#include <cstddef>

// Heap blocks the module allocates for itself and for the host (strings,
// records). One heap, so every free operation of the module matches.
void* ModuleAlloc(size_t bytes) noexcept;          // zero-filled; null when memory runs out
void* ModuleRealloc(void* block, size_t bytes) noexcept;  // null (old block kept) on failure
void ModuleFree(void* block) noexcept;              // null is allowed

// Test seam for running out of memory: while set, ModuleAlloc and
// ModuleRealloc ask it first and fail when it answers false. Never set by
// the module itself.
using ModuleAllocGate = bool (*)() noexcept;
extern ModuleAllocGate g_ModuleAllocGate;

// A heap copy of a wide string (ModuleFree releases it); null for a null
// source or when memory runs out.
wchar_t* ModuleDupWide(const wchar_t* source) noexcept;

// Copies until the source's terminator, at most capacity - 1 and at most
// maxCopy characters, and always terminates the target. Capacity 0 does nothing.
void CopyWide(wchar_t* target, size_t capacity, const wchar_t* source, size_t maxCopy) noexcept;

// Stores a heap copy of source in *slot. Returns 1, or 0 when the source is
// absent (the slot is set empty) or memory runs out. The old value is not freed.
int DupWideString(wchar_t** slot, const wchar_t* source) noexcept;

// Formatted output bounded by capacity (in characters), always terminated when
// capacity > 0. Returns the characters written, or -1 when the output was cut
// or formatting failed. %s takes a wide string, as in the system's wide printf.
int FormatWide(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) noexcept;

// Owner of a ModuleAlloc block.
template <typename T>
class ModuleBlock {
 public:
  ModuleBlock() noexcept = default;
  explicit ModuleBlock(T* p) noexcept : p_(p) {}
  ~ModuleBlock() { ModuleFree(p_); }
  ModuleBlock(const ModuleBlock&) = delete;
  ModuleBlock& operator=(const ModuleBlock&) = delete;
  ModuleBlock(ModuleBlock&& other) noexcept : p_(other.release()) {}
  ModuleBlock& operator=(ModuleBlock&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  T* get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T* release() noexcept {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset(T* p = nullptr) noexcept {
    T* old = p_;
    p_ = p;
    ModuleFree(old);
  }
  T** put() noexcept {
    reset();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};
