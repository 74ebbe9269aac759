#include "sequential_file.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace msgfile {

namespace {
HRESULT LastErrorResult() {
  const DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

bool MarkForDeletion(HANDLE file, BOOL deleteOnClose) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = deleteOnClose;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Makes the directory that holds path, and any missing above it.
bool MakeParentDirectory(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos || slash == 0) return false;
  const std::wstring parent = path.substr(0, slash);
  if (CreateDirectoryW(parent.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
  return GetLastError() == ERROR_PATH_NOT_FOUND && MakeParentDirectory(parent) &&
         (CreateDirectoryW(parent.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
}

// Renames the open file: one call, where MoveFileExW would open the file
// again (under Wine three more round trips to its server).
bool RenameOpenFile(HANDLE file, const std::wstring& path) noexcept {
  const size_t bytes = path.size() * sizeof(wchar_t);
  std::vector<uint8_t> block;
  try {
    block.resize(sizeof(FILE_RENAME_INFO) + bytes);  // the terminator included
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(block.data() + offsetof(FILE_RENAME_INFO, FileName), path.c_str(), bytes);
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(block.size())) != FALSE;
}
}  // namespace

HRESULT SequentialFile::Create(const wchar_t* path, bool markForDeletion) noexcept {
  if (!path || !*path) return E_INVALIDARG;
  if (handle_.valid()) return E_UNEXPECTED;
  try {
    path_ = path;
    buffer_.resize(kFirstBufferBytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  handle_.reset(CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_.valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return STG_E_FILEALREADYEXISTS;
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
  }
  // Without the mark (or when the system refuses it) Discard deletes the
  // file by name.
  markedForDeletion_ = markForDeletion && MarkForDeletion(handle_.get(), TRUE);
  used_ = 0;
  size_ = 0;
  return S_OK;
}

HRESULT SequentialFile::WriteAll(const uint8_t* data, size_t size) noexcept {
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, kBufferBytes));
    DWORD written = 0;
    if (!WriteFile(handle_.get(), data, piece, &written, nullptr)) return LastErrorResult();
    if (written != piece) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    data += piece;
    size -= piece;
  }
  return S_OK;
}

HRESULT SequentialFile::Grow(size_t wanted) noexcept {
  size_t capacity = buffer_.size();
  while (capacity < wanted && capacity < kBufferBytes) capacity *= 2;
  try {
    buffer_.resize(std::min(capacity, kBufferBytes));
  } catch (const std::bad_alloc&) {
    // Carry on with the buffer there is.
    return used_ < buffer_.size() ? S_OK : Flush();
  }
  return S_OK;
}

HRESULT SequentialFile::Flush() noexcept {
  HRESULT hr = Drain();
  if (FAILED(hr) || used_ == 0) return hr;
  hr = WriteAll(buffer_.data(), used_);
  used_ = 0;
  return hr;
}

void SequentialFile::WriteBehind() noexcept {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || stopping_; });
    if (!busy_) return;
    const size_t bytes = pendingBytes_;
    lock.unlock();
    const HRESULT hr = WriteAll(spare_.data(), bytes);
    lock.lock();
    if (FAILED(hr) && SUCCEEDED(writeResult_)) writeResult_ = hr;
    busy_ = false;
    changed_.notify_all();
  }
}

HRESULT SequentialFile::Drain() noexcept {
  if (!writer_.joinable()) return S_OK;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
  return writeResult_;
}

HRESULT SequentialFile::HandOff() noexcept {
  HRESULT hr = Drain();
  if (FAILED(hr)) return hr;
  if (!writer_.joinable()) {
    try {
      spare_.resize(buffer_.size());
      writer_ = std::thread([this] { WriteBehind(); });
    } catch (...) {
      // Without a second buffer or a thread the caller writes it.
      spare_.clear();
      spare_.shrink_to_fit();
      return Flush();
    }
  }
  buffer_.swap(spare_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingBytes_ = used_;
    busy_ = true;
  }
  changed_.notify_all();
  used_ = 0;
  return S_OK;
}

void SequentialFile::StopWriting() noexcept {
  if (!writer_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  writer_.join();  // after the buffer under way, if any
  stopping_ = false;
  spare_.clear();
  spare_.shrink_to_fit();
}

HRESULT SequentialFile::Append(const void* data, size_t size) noexcept {
  if (!handle_.valid()) return E_UNEXPECTED;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  size_ += size;
  while (size > 0) {
    if (used_ == 0 && size >= kBufferBytes && buffer_.size() == kBufferBytes) {
      // Large pieces go straight through, without a copy, after what is
      // being written behind.
      const size_t whole = size - size % kBufferBytes;
      HRESULT hr = Drain();
      if (SUCCEEDED(hr)) hr = WriteAll(bytes, whole);
      if (FAILED(hr)) return hr;
      bytes += whole;
      size -= whole;
      continue;
    }
    if (used_ + size > buffer_.size() && buffer_.size() < kBufferBytes) {
      HRESULT hr = Grow(used_ + size);
      if (FAILED(hr)) return hr;
    }
    const size_t piece = std::min(size, buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, bytes, piece);
    used_ += piece;
    bytes += piece;
    size -= piece;
    if (used_ == buffer_.size()) {
      const HRESULT hr = buffer_.size() == kBufferBytes ? HandOff() : Flush();
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT SequentialFile::AppendZeros(uint64_t count) noexcept {
  if (!handle_.valid()) return E_UNEXPECTED;
  size_ += count;
  while (count > 0) {
    if (used_ + count > buffer_.size() && buffer_.size() < kBufferBytes) {
      HRESULT hr = Grow(static_cast<size_t>(std::min<uint64_t>(used_ + count, kBufferBytes)));
      if (FAILED(hr)) return hr;
    }
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(count, buffer_.size() - used_));
    std::memset(buffer_.data() + used_, 0, piece);
    used_ += piece;
    count -= piece;
    if (used_ == buffer_.size()) {
      const HRESULT hr = buffer_.size() == kBufferBytes ? HandOff() : Flush();
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT SequentialFile::WriteAt(uint64_t offset, const void* data, size_t size) noexcept {
  if (!handle_.valid()) return E_UNEXPECTED;
  if (offset + size > size_) return E_INVALIDARG;
  const uint64_t buffered = size_ - used_;  // file offset of the buffer's first byte
  if (offset >= buffered) {
    // Still in the buffer (a small file): no seeking.
    std::memcpy(buffer_.data() + (offset - buffered), data, size);
    return S_OK;
  }
  HRESULT hr = Flush();
  if (FAILED(hr)) return hr;
  LARGE_INTEGER target;
  target.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(handle_.get(), target, nullptr, FILE_BEGIN)) return LastErrorResult();
  hr = WriteAll(static_cast<const uint8_t*>(data), size);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size_);
  if (!SetFilePointerEx(handle_.get(), end, nullptr, FILE_BEGIN) && SUCCEEDED(hr)) hr = LastErrorResult();
  return hr;
}

HRESULT SequentialFile::Keep(const wchar_t* finalPath) noexcept {
  if (!handle_.valid()) return E_UNEXPECTED;
  HRESULT hr = Flush();
  StopWriting();
  if (FAILED(hr)) return hr;
  if (markedForDeletion_ && !MarkForDeletion(handle_.get(), FALSE)) {
    // Without the mark lifted, closing would delete the finished file.
    return LastErrorResult();
  }
  markedForDeletion_ = false;
  if (finalPath && FAILED(hr = Place(finalPath))) return hr;
  if (handle_.valid() && !CloseHandle(handle_.release())) return LastErrorResult();
  buffer_.clear();
  buffer_.shrink_to_fit();
  return S_OK;
}

HRESULT SequentialFile::Place(const wchar_t* finalPath) noexcept {
  try {
    const std::wstring path = finalPath;
    // A step that fails for want of the target's directory is tried again
    // once the directory is made.
    auto inDirectory = [&path](auto step) {
      return step() || (GetLastError() == ERROR_PATH_NOT_FOUND && MakeParentDirectory(path) && step());
    };
    bool placed = inDirectory([&] { return RenameOpenFile(handle_.get(), path); });
    if (!placed) {
      // A system that does not rename open files: closed, then moved.
      handle_.reset();
      placed = inDirectory([&] { return MoveFileExW(path_.c_str(), path.c_str(), 0) != FALSE; });
    }
    if (placed) {
      path_ = path;
      return S_OK;
    }
    const HRESULT hr = LastErrorResult();
    DeleteFileW(path_.c_str());
    return hr;
  } catch (const std::bad_alloc&) {
    // For Discard: marked while open, gone once closed.
    if (handle_.valid()) {
      markedForDeletion_ = MarkForDeletion(handle_.get(), TRUE);
    } else {
      DeleteFileW(path_.c_str());
    }
    return E_OUTOFMEMORY;
  }
}

void SequentialFile::Discard() noexcept {
  StopWriting();
  if (!handle_.valid()) return;
  handle_.reset();
  if (!markedForDeletion_) DeleteFileW(path_.c_str());
  markedForDeletion_ = false;
  buffer_.clear();
  buffer_.shrink_to_fit();
}

}  // namespace msgfile
