// Reads compound files, ours and other writers' alike, without loading
// streams whole: the directory is read at Open, stream bytes on demand.
//
// A reader and the stream readers it hands out share the open file, so a
// stream reader stays valid after the reader itself is closed or destroyed.
// Neither is safe to use from two threads at once.
//
// Methods are noexcept and return an HRESULT: STG_E_FILENOTFOUND,
// STG_E_INVALIDHEADER or STG_E_OLDFORMAT for a file that is not a compound
// file we read, STG_E_DOCFILECORRUPT for broken chains, tables or
// directory, MAPI_E_NOT_FOUND for a name that is absent, E_INVALIDARG,
// E_UNEXPECTED before Open, E_OUTOFMEMORY, or the Win32 error as an HRESULT.
#pragma once

#include <windows.h>

#include <mapicode.h>  // the MAPI codes returned

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <msgfile/compound_file_writer.h>

namespace msgfile {

namespace detail {
struct ReaderFile;
}

enum class EntryType { Storage, Stream, Root };

struct EntryInfo {
  std::wstring name;
  EntryType type = EntryType::Storage;
  uint64_t size = 0;  // streams (and the root's mini stream) only
  CLSID clsid = {};
  FILETIME created = {};
  FILETIME modified = {};
};

class StreamReader {
 public:
  StreamReader() noexcept;
  ~StreamReader();
  StreamReader(StreamReader&&) noexcept;
  StreamReader& operator=(StreamReader&&) noexcept;

  uint64_t Size() const noexcept { return size_; }
  uint64_t Position() const noexcept { return position_; }
  // Reads up to size bytes at the current position; fewer only at the end.
  HRESULT Read(void* buffer, size_t size, size_t* read) noexcept;
  // Any position up to Size().
  HRESULT Seek(uint64_t position) noexcept;

 private:
  friend class CompoundFileReader;
  static constexpr size_t kReadAhead = 64u << 10;
  HRESULT MoveCursorTo(uint64_t sectorIndex) noexcept;
  // Exactly size bytes at the position, which moves on by what was read.
  HRESULT ReadRegular(uint8_t* out, size_t size) noexcept;

  std::shared_ptr<detail::ReaderFile> file_;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
  std::vector<uint8_t> small_;  // a stream below the cutoff, read whole at open
  bool regular_ = false;
  uint32_t startSector_ = 0;
  uint64_t cursorIndex_ = 0;  // index in the chain of cursorSector_
  uint32_t cursorSector_ = 0;
  // A sector met again on the walk means the chain loops (Brent's method).
  uint32_t loopMark_ = 0;
  uint64_t loopSteps_ = 0;
  uint64_t loopLimit_ = 1;
  // What follows a small read, read with it (up to kReadAhead bytes).
  std::vector<uint8_t> ahead_;
  uint64_t aheadStart_ = 0;
};

class CompoundFileReader {
 public:
  CompoundFileReader() noexcept;
  ~CompoundFileReader();
  CompoundFileReader(const CompoundFileReader&) = delete;
  CompoundFileReader& operator=(const CompoundFileReader&) = delete;

  HRESULT Open(const wchar_t* path) noexcept;
  void Close() noexcept;
  bool IsOpen() const noexcept { return file_ != nullptr; }
  unsigned MajorVersion() const noexcept;

  HRESULT GetEntry(EntryId entry, EntryInfo* info) const noexcept;
  // Children of a storage in sibling order.
  HRESULT ListChildren(EntryId storage, std::vector<EntryId>* children) const noexcept;
  // Names compare as the format orders them (case-insensitive).
  HRESULT FindChild(EntryId storage, const wchar_t* name, EntryId* child) const noexcept;
  HRESULT OpenStream(EntryId stream, StreamReader* reader) const noexcept;
  // A whole stream into memory; MAPI_E_TOO_BIG when it is longer than limit.
  HRESULT ReadStream(EntryId stream, uint64_t limit, std::vector<uint8_t>* bytes) const noexcept;

 private:
  std::shared_ptr<detail::ReaderFile> file_;
};

}  // namespace msgfile
