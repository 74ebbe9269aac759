#include "platform/file_utilities.h"

#include "platform/bridge.h"

namespace {

// The 16-bit file calls answer HFILE_ERROR, which is 0xFFFF in 16 bits.
constexpr uint16_t kFileCallError = 0xFFFF;

HFILE AsFileCallHandle(HANDLE handle) noexcept {
  // Kernel handles keep their value in 32 bits on 64-bit Windows too.
  return static_cast<HFILE>(reinterpret_cast<INT_PTR>(handle));
}

}  // namespace

FileResult MapLastError() noexcept {
  switch (GetLastError()) {
    case ERROR_SUCCESS:
      return FR_OK;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return FR_NOT_FOUND;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FR_TOO_MANY_OPEN;
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_ACCESS:
    case ERROR_WRITE_PROTECT:
    case ERROR_NOT_READY:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FR_ACCESS;
    case ERROR_INVALID_HANDLE:
      return FR_INVALID;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return FR_NO_MEMORY;
    case ERROR_NO_MORE_FILES:
      return FR_NO_MORE_FILES;
    case ERROR_SEEK:
      return FR_SEEK;
    case ERROR_HANDLE_EOF:
      return FR_END_OF_DATA;
    case ERROR_HANDLE_DISK_FULL:
      return FR_DISK_FULL;
    case ERROR_ALREADY_EXISTS:
      return FR_EXISTS;
    default:
      return FR_FAILED;
  }
}

DWORD MapAccessMode(UINT access) noexcept {
  switch (access) {
    case OF_WRITE:
      return GENERIC_WRITE;
    case OF_READWRITE:
      return GENERIC_READ | GENERIC_WRITE;
    default:
      return GENERIC_READ;
  }
}

DWORD MapShareMode(UINT share) noexcept {
  switch (share) {
    case OF_SHARE_DENY_WRITE:
      return FILE_SHARE_READ;
    case OF_SHARE_DENY_READ:
      return FILE_SHARE_WRITE;
    case OF_SHARE_DENY_NONE:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default:
      return 0;
  }
}

FileResult FileOpen(const wchar_t* path, UINT access, UINT share, HANDLE* handle) noexcept {
  HANDLE opened =
      BridgeCreateFile(path, MapAccessMode(access), MapShareMode(share), nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle) *handle = opened;
  return opened == INVALID_HANDLE_VALUE ? FR_NOT_FOUND : FR_OK;
}

FileResult FileCreate(const wchar_t* path, UINT access, UINT share, HANDLE* handle) noexcept {
  // CREATE_NEW rather than CREATE_ALWAYS: a create that is refused because
  // the file exists must not have emptied that file first.
  HANDLE created = BridgeCreateFile(path, MapAccessMode(access), MapShareMode(share), nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle) *handle = created;
  if (created != INVALID_HANDLE_VALUE) return FR_OK;
  if (GetLastError() == ERROR_FILE_EXISTS) return FR_EXISTS;
  return MapLastError();
}

FileResult FileClose(HANDLE handle) noexcept { return CloseHandle(handle) ? FR_OK : MapLastError(); }

FileResult FileRead(HANDLE handle, uint16_t count, uint16_t* countRead, void* buffer) noexcept {
  uint16_t read = static_cast<uint16_t>(_lread(AsFileCallHandle(handle), buffer, count));
  if (countRead) *countRead = read;
  if (read == kFileCallError) return FR_ACCESS;
  return read < count ? FR_END_OF_DATA : FR_OK;
}

FileResult FileWrite(HANDLE handle, uint16_t count, uint16_t* countWritten, const void* buffer) noexcept {
  // _lwrite of 0 bytes cuts the file at the current position; writing
  // nothing must leave the file alone.
  if (count == 0) {
    if (countWritten) *countWritten = 0;
    return FR_OK;
  }
  uint16_t written = static_cast<uint16_t>(_lwrite(AsFileCallHandle(handle), static_cast<const char*>(buffer), count));
  if (countWritten) *countWritten = written;
  if (written == kFileCallError) return FR_ACCESS;
  return written < count ? FR_DISK_FULL : FR_OK;
}

FileResult FileSeek(HANDLE handle, DWORD method, int32_t offset, uint32_t* newPosition) noexcept {
  DWORD position = SetFilePointer(handle, offset, nullptr, method);
  if (newPosition) *newPosition = position;
  if (position == INVALID_SET_FILE_POINTER) return MapLastError();
  return FR_OK;
}
