#include <kvimap/byte_stream.h>

#include <algorithm>
#include <cstring>

namespace kvimap {

Status FileSource::Open(const std::wstring& path) noexcept {
  file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file_) return Failure(Result::SourceFailed, "the attachment file cannot be opened", GetLastError());
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_.get(), &size)) return Failure(Result::SourceFailed, "the file's size is unknown", GetLastError());
  size_ = static_cast<uint64_t>(size.QuadPart);
  return Status();
}

Status FileSource::Read(void* buffer, size_t capacity, size_t* received) noexcept {
  *received = 0;
  if (!file_) return Status(Result::InvalidArgument);
  DWORD chunk = static_cast<DWORD>(std::min<size_t>(capacity, 1u << 30));
  DWORD got = 0;
  if (!ReadFile(file_.get(), buffer, chunk, &got, nullptr)) return Failure(Result::SourceFailed, "reading the file failed", GetLastError());
  *received = got;
  return Status();
}

Status MemorySource::Read(void* buffer, size_t capacity, size_t* received) noexcept {
  size_t n = std::min(capacity, size_ - position_);
  if (n != 0) std::memcpy(buffer, data_ + position_, n);
  position_ += n;
  *received = n;
  return Status();
}

}  // namespace kvimap
