#include "property_streams.h"

#include <algorithm>
#include <cstring>

#include "message_state.h"

namespace provider {
namespace {

constexpr const char* kName = "IStream";

void FillStat(STATSTG* stat, uint64_t size, DWORD mode) {
  memset(stat, 0, sizeof *stat);
  stat->type = STGTY_STREAM;  // no name: property streams have none
  stat->cbSize.QuadPart = size;
  stat->grfMode = mode;
}

}  // namespace

// ---- writing ----

WriteStream::WriteStream(std::shared_ptr<MessageState> message, uint64_t token)
    : message_(std::move(message)), token_(token), traced_(TracingOn()) {}

WriteStream::~WriteStream() { message_->StreamClose(token_); }

bool WriteStream::Supports(REFIID iid) const {
  return IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream);
}

STDMETHODIMP WriteStream::Read(void*, ULONG, ULONG* read) {
  if (read) *read = 0;
  return Guard(kName, "Read", 0, [] { return STG_E_ACCESSDENIED; });
}

STDMETHODIMP WriteStream::Write(const void* data, ULONG size, ULONG* written) {
  if (written) *written = 0;
  // The byte count in the trace's flags field shows callers' write sizes.
  return GuardTracedIf(traced_, kName, "Write", size, [&]() -> HRESULT {
    if (!data && size) return STG_E_INVALIDPOINTER;
    HRESULT hr = message_->StreamWrite(token_, data, size);
    if (FAILED(hr)) return hr;
    size_ += size;
    if (written) *written = size;
    return S_OK;
  });
}

STDMETHODIMP WriteStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  return Guard(kName, "Seek", origin, [&]() -> HRESULT {
    const uint64_t size = size_;
    uint64_t target = 0;
    switch (origin) {
      case STREAM_SEEK_SET: target = static_cast<uint64_t>(move.QuadPart); break;
      case STREAM_SEEK_CUR:
      case STREAM_SEEK_END: target = size + static_cast<uint64_t>(move.QuadPart); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    // The value is written front to back: the only place to be is its end.
    if (target != size) return STG_E_INVALIDFUNCTION;
    if (position) position->QuadPart = size;
    return S_OK;
  });
}

STDMETHODIMP WriteStream::SetSize(ULARGE_INTEGER size) {
  return Guard(kName, "SetSize", 0, [&]() -> HRESULT {
    // Callers announce the value's size before writing it: one the message
    // file cannot hold is refused now, not after gigabytes were written.
    return message_->StreamSetSize(token_, size.QuadPart);
  });
}

STDMETHODIMP WriteStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER* read, ULARGE_INTEGER* written) {
  if (read) read->QuadPart = 0;
  if (written) written->QuadPart = 0;
  return Guard(kName, "CopyTo", 0, [] { return STG_E_ACCESSDENIED; });
}

STDMETHODIMP WriteStream::Commit(DWORD flags) {
  return Guard(kName, "Commit", flags, [] { return S_OK; });
}

STDMETHODIMP WriteStream::Revert() {
  return Guard(kName, "Revert", 0, [] { return STG_E_INVALIDFUNCTION; });
}

STDMETHODIMP WriteStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return Guard(kName, "LockRegion", 0, [] { return STG_E_INVALIDFUNCTION; });
}

STDMETHODIMP WriteStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return Guard(kName, "UnlockRegion", 0, [] { return STG_E_INVALIDFUNCTION; });
}

STDMETHODIMP WriteStream::Stat(STATSTG* stat, DWORD flags) {
  return Guard(kName, "Stat", flags, [&]() -> HRESULT {
    if (!stat) return STG_E_INVALIDPOINTER;
    FillStat(stat, size_, STGM_WRITE);
    return S_OK;
  });
}

STDMETHODIMP WriteStream::Clone(IStream** clone) {
  if (clone) *clone = nullptr;
  return Guard(kName, "Clone", 0, [] { return STG_E_INVALIDFUNCTION; });
}

// ---- reading ----

ReadStream::ReadStream(msgfile::StreamReader reader) : fromFile_(true), reader_(std::move(reader)) {}
ReadStream::ReadStream(std::vector<uint8_t> bytes) : fromFile_(false), bytes_(std::move(bytes)) {}

bool ReadStream::Supports(REFIID iid) const {
  return IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream);
}

uint64_t ReadStream::Size() const { return fromFile_ ? reader_.Size() : bytes_.size(); }
uint64_t ReadStream::Position() const { return fromFile_ ? reader_.Position() : position_; }

STDMETHODIMP ReadStream::Read(void* data, ULONG size, ULONG* read) {
  if (read) *read = 0;
  return Guard(kName, "Read", 0, [&]() -> HRESULT {
    if (!data && size) return STG_E_INVALIDPOINTER;
    size_t done = 0;
    if (fromFile_) {
      HRESULT hr = reader_.Read(data, size, &done);
      if (FAILED(hr)) return hr;
    } else {
      done = std::min<size_t>(size, bytes_.size() - position_);
      if (done) memcpy(data, bytes_.data() + position_, done);
      position_ += done;
    }
    if (read) *read = static_cast<ULONG>(done);
    // Like the system's streams: a short read at the end is still a success.
    return S_OK;
  });
}

STDMETHODIMP ReadStream::Write(const void*, ULONG, ULONG* written) {
  if (written) *written = 0;
  return Guard(kName, "Write", 0, [] { return STG_E_ACCESSDENIED; });
}

STDMETHODIMP ReadStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  return Guard(kName, "Seek", origin, [&]() -> HRESULT {
    int64_t base = 0;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<int64_t>(Position()); break;
      case STREAM_SEEK_END: base = static_cast<int64_t>(Size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    const int64_t target = base + move.QuadPart;
    if (target < 0) return STG_E_INVALIDFUNCTION;
    // Past the end reads nothing, as the system's streams do.
    const uint64_t clamped = std::min<uint64_t>(static_cast<uint64_t>(target), Size());
    if (fromFile_) {
      HRESULT hr = reader_.Seek(clamped);
      if (FAILED(hr)) return hr;
    } else {
      position_ = static_cast<size_t>(clamped);
    }
    if (position) position->QuadPart = clamped;
    return S_OK;
  });
}

STDMETHODIMP ReadStream::SetSize(ULARGE_INTEGER) {
  return Guard(kName, "SetSize", 0, [] { return STG_E_ACCESSDENIED; });
}

STDMETHODIMP ReadStream::CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) {
  if (read) read->QuadPart = 0;
  if (written) written->QuadPart = 0;
  return Guard(kName, "CopyTo", 0, [&]() -> HRESULT {
    if (!target) return STG_E_INVALIDPOINTER;
    std::vector<uint8_t> buffer(64u << 10);
    uint64_t left = size.QuadPart, totalRead = 0, totalWritten = 0;
    while (left > 0) {
      ULONG piece = static_cast<ULONG>(std::min<uint64_t>(left, buffer.size()));
      size_t got = 0;
      if (fromFile_) {
        HRESULT hr = reader_.Read(buffer.data(), piece, &got);
        if (FAILED(hr)) return hr;
      } else {
        got = std::min<size_t>(piece, bytes_.size() - position_);
        if (got) memcpy(buffer.data(), bytes_.data() + position_, got);
        position_ += got;
      }
      if (got == 0) break;
      totalRead += got;
      ULONG put = 0;
      HRESULT hr = target->Write(buffer.data(), static_cast<ULONG>(got), &put);
      totalWritten += put;
      if (FAILED(hr)) return hr;
      left -= got;
    }
    if (read) read->QuadPart = totalRead;
    if (written) written->QuadPart = totalWritten;
    return S_OK;
  });
}

STDMETHODIMP ReadStream::Commit(DWORD flags) {
  return Guard(kName, "Commit", flags, [] { return S_OK; });
}

STDMETHODIMP ReadStream::Revert() {
  return Guard(kName, "Revert", 0, [] { return S_OK; });
}

STDMETHODIMP ReadStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return Guard(kName, "LockRegion", 0, [] { return STG_E_INVALIDFUNCTION; });
}

STDMETHODIMP ReadStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return Guard(kName, "UnlockRegion", 0, [] { return STG_E_INVALIDFUNCTION; });
}

STDMETHODIMP ReadStream::Stat(STATSTG* stat, DWORD flags) {
  return Guard(kName, "Stat", flags, [&]() -> HRESULT {
    if (!stat) return STG_E_INVALIDPOINTER;
    FillStat(stat, Size(), STGM_READ);
    return S_OK;
  });
}

STDMETHODIMP ReadStream::Clone(IStream** clone) {
  if (clone) *clone = nullptr;
  return Guard(kName, "Clone", 0, [] { return STG_E_INVALIDFUNCTION; });
}

}  // namespace provider
