// File operations over the Windows file API with one error convention: every
// operation returns FR_OK or a file result code, and Windows error numbers are
// mapped to those codes in one place (MapLastError).
#pragma once

#include <windows.h>

#include <cstdint>

using FileResult = uint32_t;

constexpr FileResult FR_OK = 0;
constexpr FileResult FR_FAILED = 257;         // any other failure
constexpr FileResult FR_EXISTS = 259;         // the file already exists
constexpr FileResult FR_NOT_FOUND = 260;      // file, path or drive not found; every failed open
constexpr FileResult FR_ACCESS = 261;         // denied, write-protected, sharing or lock violation
constexpr FileResult FR_TOO_MANY_OPEN = 262;  // too many open files
constexpr FileResult FR_INVALID = 263;        // invalid handle, or an operation a store lacks
constexpr FileResult FR_END_OF_DATA = 264;    // fewer bytes read than asked
constexpr FileResult FR_SEEK = 265;           // seek error
constexpr FileResult FR_DISK_FULL = 266;      // fewer bytes written than asked
constexpr FileResult FR_NO_MEMORY = 267;      // out of memory
constexpr FileResult FR_BAD_FORMAT = 268;     // malformed tagged data
constexpr FileResult FR_NO_MORE_FILES = 269;  // a file search has no further match

// Access and sharing codes are the classic OpenFile flags of <windows.h>:
// OF_READ, OF_WRITE, OF_READWRITE; OF_SHARE_DENY_WRITE, OF_SHARE_DENY_READ,
// OF_SHARE_DENY_NONE, and any other sharing code for an exclusive open.

// The thread's last Windows error as a file result code.
FileResult MapLastError() noexcept;
DWORD MapAccessMode(UINT access) noexcept;
DWORD MapShareMode(UINT share) noexcept;

// Opens an existing file. Every failure is FR_NOT_FOUND; *handle receives the
// system's value either way.
FileResult FileOpen(const wchar_t* path, UINT access, UINT share, HANDLE* handle) noexcept;
// Creates a new file. A path that already names a file gives FR_EXISTS, leaves
// that file as it was and leaves no handle open.
FileResult FileCreate(const wchar_t* path, UINT access, UINT share, HANDLE* handle) noexcept;
FileResult FileClose(HANDLE handle) noexcept;
// At most 65,535 bytes per call; 0xFFFF as a count is the system's error value.
// A short read is FR_END_OF_DATA, a short write FR_DISK_FULL.
FileResult FileRead(HANDLE handle, uint16_t count, uint16_t* countRead, void* buffer) noexcept;
FileResult FileWrite(HANDLE handle, uint16_t count, uint16_t* countWritten, const void* buffer) noexcept;
// method: 0 from the start, 1 from the current position, 2 from the end.
FileResult FileSeek(HANDLE handle, DWORD method, int32_t offset, uint32_t* newPosition) noexcept;
