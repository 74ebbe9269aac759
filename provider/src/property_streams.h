// IStream objects that OpenProperty hands out: one that writes a value into
// a message file as it arrives, and one that reads a value back.
#pragma once

#include <objidl.h>

#include <memory>
#include <vector>

#include <msgfile/compound_file_reader.h>

#include "object_base.h"

namespace provider {

class MessageState;

// Writes go straight to the message file; Seek only confirms the end. SetSize
// announces the size about to be written and refuses one the message file
// cannot hold; it changes nothing else (the value is what is written). The
// value is complete when the stream is released (or the message is saved);
// Commit changes nothing, the data is already on its way.
class WriteStream final : public ComObject<IStream> {
 public:
  WriteStream(std::shared_ptr<MessageState> message, uint64_t token);
  ~WriteStream() override;

  STDMETHODIMP Read(void*, ULONG, ULONG* read) override;
  STDMETHODIMP Write(const void* data, ULONG size, ULONG* written) override;
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  STDMETHODIMP SetSize(ULARGE_INTEGER size) override;
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
  STDMETHODIMP Commit(DWORD flags) override;
  STDMETHODIMP Revert() override;
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
  STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
  STDMETHODIMP Clone(IStream** clone) override;

 protected:
  bool Supports(REFIID iid) const override;

 private:
  std::shared_ptr<MessageState> message_;
  uint64_t token_;
  bool traced_;  // its writes, many and small, do not each read the environment
  uint64_t size_ = 0;
};

// Reads a value: from the message file piecewise, or from bytes at hand.
class ReadStream final : public ComObject<IStream> {
 public:
  explicit ReadStream(msgfile::StreamReader reader);
  explicit ReadStream(std::vector<uint8_t> bytes);

  STDMETHODIMP Read(void* data, ULONG size, ULONG* read) override;
  STDMETHODIMP Write(const void*, ULONG, ULONG* written) override;
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  STDMETHODIMP SetSize(ULARGE_INTEGER size) override;
  STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
  STDMETHODIMP Commit(DWORD flags) override;
  STDMETHODIMP Revert() override;
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
  STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
  STDMETHODIMP Clone(IStream** clone) override;

 protected:
  bool Supports(REFIID iid) const override;

 private:
  uint64_t Size() const;
  uint64_t Position() const;

  bool fromFile_;
  msgfile::StreamReader reader_;
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

}  // namespace provider
