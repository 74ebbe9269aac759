// Bounded wide-string helpers and the module's heap, used by every subsystem.
#pragma once

#include <windows.h>

#include <cstddef>
#include <new>

#include <kvcommon/unique_resource.h>

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

// The first half of a UTF-16 surrogate pair: a text cut after it ends in half
// a character.
inline bool IsHighSurrogate(wchar_t c) noexcept { return c >= 0xD800 && c <= 0xDBFF; }

// True when format takes the same arguments, in the same order, as
// expected: a translated format from a resource set is used with the
// module's own arguments, and one that asks for others could crash the host.
// Flags, width and precision may differ; "%%" takes nothing; a "*" width or
// precision or a positional "$" never matches. %s and %ls are the same wide
// string.
bool TakesSameArguments(const wchar_t* format, const wchar_t* expected) noexcept;

// Owner of a ModuleAlloc block.
struct ModuleBlockFree {
  void operator()(void* block) const noexcept { ModuleFree(block); }
};
template <typename T>
using ModuleBlock = kvcommon::UniquePointer<T, ModuleBlockFree>;

// Standard containers on the module heap: running out of memory there throws
// std::bad_alloc, which only an export's guard catches.
template <typename T>
struct ModuleAllocator {
  using value_type = T;
  ModuleAllocator() noexcept = default;
  template <typename U>
  ModuleAllocator(const ModuleAllocator<U>&) noexcept {}
  T* allocate(size_t count) {
    void* block = count <= static_cast<size_t>(-1) / sizeof(T) ? ModuleAlloc(count * sizeof(T)) : nullptr;
    if (!block) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, size_t) noexcept { ModuleFree(block); }
  template <typename U>
  bool operator==(const ModuleAllocator<U>&) const noexcept {
    return true;
  }
  template <typename U>
  bool operator!=(const ModuleAllocator<U>&) const noexcept {
    return false;
  }
};
