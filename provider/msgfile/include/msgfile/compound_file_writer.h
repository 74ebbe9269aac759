// A compound file written front to back in one pass.
//
// Stream bytes are either handed over whole (AddStream with a buffer) or
// streamed as "content": BeginContent, WriteContent any number of times,
// EndContent, then AddStream links the content under a name. Content that
// reaches 4096 bytes goes straight to consecutive sectors of the file as it
// arrives; shorter content stays in memory and ends up in the mini stream.
// Allocation tables and the directory are generated at Finish from runs of
// sectors, so memory use does not grow with the size of the data.
//
// Until Finish succeeds the file is marked for deletion: Abandon, the
// destructor, or the death of the process removes it.
//
// Every method is noexcept and returns an HRESULT: E_INVALIDARG for bad
// arguments, E_UNEXPECTED for a call out of order, STG_E_FILEALREADYEXISTS
// for a name taken or a path that exists, STG_E_INVALIDNAME,
// STG_E_DOCFILETOOLARGE beyond 2 GiB, E_OUTOFMEMORY, and the Win32 error as
// an HRESULT when writing fails. After a write failure every call returns
// that failure.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace msgfile {

using EntryId = uint32_t;
using ContentId = uint32_t;
constexpr EntryId kRootEntry = 0;
constexpr ContentId kNoContent = 0xFFFFFFFFu;

class CompoundFileWriter {
 public:
  // Largest file written: 2 GiB less one byte.
  static constexpr uint64_t kMaxFileBytes = 0x7FFFFFFFu;

  CompoundFileWriter() noexcept;
  ~CompoundFileWriter();
  CompoundFileWriter(const CompoundFileWriter&) = delete;
  CompoundFileWriter& operator=(const CompoundFileWriter&) = delete;

  // majorVersion 3 writes 512-byte sectors, 4 writes 4096-byte sectors.
  // The file at path must not exist yet. Unless markForDeletion is false (a
  // caller that sweeps away what a killed process leaves, and saves the two
  // calls), the file is marked for deletion until Finish.
  HRESULT Create(const wchar_t* path, unsigned majorVersion = 3, bool markForDeletion = true) noexcept;

  HRESULT AddStorage(EntryId parent, const wchar_t* name, EntryId* storage) noexcept;
  HRESULT SetClassId(EntryId storage, const CLSID& clsid) noexcept;
  // A stream whose bytes are all at hand; they are copied.
  HRESULT AddStream(EntryId parent, const wchar_t* name, const void* data, size_t size,
                    EntryId* stream = nullptr) noexcept;
  // A stream made of content that has been ended; each content is linked once.
  HRESULT AddStream(EntryId parent, const wchar_t* name, ContentId content, EntryId* stream = nullptr) noexcept;

  // One content is open at a time.
  HRESULT BeginContent(ContentId* content) noexcept;
  HRESULT WriteContent(const void* data, size_t size) noexcept;
  HRESULT EndContent() noexcept;
  // Drops content (open or ended, not yet linked); its sectors become free space.
  HRESULT DiscardContent(ContentId content) noexcept;
  // Bytes in the content so far; 0 for an unknown id.
  uint64_t ContentSize(ContentId content) const noexcept;
  // The size the file would have at Finish, at most, if moreBytes more bytes
  // were written (to the open content or in streams still to be added) and
  // moreEntries more directory entries made; allocation tables and padding
  // included. A caller compares it with kMaxFileBytes before writing.
  uint64_t ProjectedSize(uint64_t moreBytes, uint32_t moreEntries) const noexcept;

  // Writes the mini stream, allocation tables, directory and header and
  // closes the file. Content never linked is dropped. The open content, if
  // any, must have been ended. fileSize, when given, receives the size of
  // the finished file; finalPath, when given, is where the file is moved
  // before it is closed (never over an existing file; missing directories
  // are made).
  HRESULT Finish(uint64_t* fileSize = nullptr, const wchar_t* finalPath = nullptr) noexcept;
  // Closes and deletes the file.
  void Abandon() noexcept;

  bool IsOpen() const noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace msgfile
