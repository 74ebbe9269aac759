#include <msgfile/compound_file_reader.h>

#include <mapicode.h>

#include <algorithm>
#include <cstring>
#include <new>

#include <kvcommon/unique_resource.h>

#include "compound_file_layout.h"

namespace msgfile {

using cfb::DirectoryEntry;
using cfb::ObjectType;

namespace detail {

// Table sectors recently used (FAT or mini FAT): a sequential walk touches
// one sector for every 128 or 1024 it follows.
class SectorCache {
 public:
  static constexpr size_t kSlots = 4;
  // Allocates the slots once, so lookups never allocate.
  void Prepare(uint32_t sectorSize) {
    for (Slot& slot : slots_) slot.bytes.resize(sectorSize);
  }
  uint8_t* Find(uint32_t sector) {
    for (Slot& slot : slots_) {
      if (slot.sector == sector) return slot.bytes.data();
    }
    return nullptr;
  }
  uint8_t* Replace(uint32_t sector) {
    Slot& slot = slots_[next_];
    next_ = (next_ + 1) % kSlots;
    slot.sector = sector;
    return slot.bytes.data();
  }
  void Forget(uint8_t* bytes) {
    for (Slot& slot : slots_) {
      if (slot.bytes.data() == bytes) slot.sector = cfb::kFreeSector;
    }
  }

 private:
  struct Slot {
    uint32_t sector = cfb::kFreeSector;
    std::vector<uint8_t> bytes;
  };
  Slot slots_[kSlots];
  size_t next_ = 0;
};

struct ReaderFile {
  static constexpr uint64_t kUnknownPosition = ~0ull;
  kvcommon::UniqueFile handle;
  uint64_t position = 0;  // where the handle's file pointer is
  cfb::Geometry geometry;
  uint64_t fileSize = 0;
  uint32_t sectorCount = 0;  // sectors that start inside the file
  std::vector<uint32_t> fatSectors;
  std::vector<uint32_t> miniFatSectors;
  std::vector<uint32_t> miniStreamSectors;
  uint64_t miniStreamSize = 0;
  std::vector<DirectoryEntry> entries;
  SectorCache fatCache;
  SectorCache miniFatCache;

  HRESULT ReadAt(uint64_t offset, void* buffer, size_t size);
  HRESULT ReadSector(uint32_t sector, uint8_t* buffer) {
    if (sector >= sectorCount) return STG_E_DOCFILECORRUPT;
    return ReadAt(geometry.Offset(sector), buffer, geometry.sectorSize);
  }
  HRESULT TableEntry(const std::vector<uint32_t>& tableSectors, SectorCache* cache, uint32_t index,
                     uint32_t* value);
  HRESULT NextSector(uint32_t sector, uint32_t* next) {
    return TableEntry(fatSectors, &fatCache, sector, next);
  }
  HRESULT NextMiniSector(uint32_t sector, uint32_t* next) {
    return TableEntry(miniFatSectors, &miniFatCache, sector, next);
  }
  // The sectors of a chain; a chain longer than the file is a loop.
  HRESULT CollectChain(uint32_t start, std::vector<uint32_t>* chain);
  HRESULT ReadSmallStream(const DirectoryEntry& entry, std::vector<uint8_t>* bytes);
  HRESULT Load();
};

HRESULT ReaderFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  // Sequential reads need no seek; positioned reads cost more on some systems.
  if (offset != position) {
    LARGE_INTEGER target;
    target.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handle.get(), target, nullptr, FILE_BEGIN)) {
      position = kUnknownPosition;
      return HRESULT_FROM_WIN32(GetLastError());
    }
    position = offset;
  }
  uint8_t* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 24));
    DWORD got = 0;
    if (!ReadFile(handle.get(), out, piece, &got, nullptr)) {
      position = kUnknownPosition;
      const DWORD error = GetLastError();
      return error == ERROR_SUCCESS ? STG_E_READFAULT : HRESULT_FROM_WIN32(error);
    }
    position += got;
    if (got != piece) return STG_E_DOCFILECORRUPT;  // the file ends inside the data
    out += piece;
    size -= piece;
  }
  return S_OK;
}

HRESULT ReaderFile::TableEntry(const std::vector<uint32_t>& tableSectors, SectorCache* cache, uint32_t index,
                               uint32_t* value) {
  const uint32_t tableIndex = index / geometry.entriesPerSector;
  if (tableIndex >= tableSectors.size()) return STG_E_DOCFILECORRUPT;
  const uint32_t sector = tableSectors[tableIndex];
  uint8_t* bytes = cache->Find(sector);
  if (!bytes) {
    bytes = cache->Replace(sector);
    const HRESULT hr = ReadSector(sector, bytes);
    if (FAILED(hr)) {
      cache->Forget(bytes);
      return hr;
    }
  }
  *value = cfb::Get32(bytes + 4u * (index % geometry.entriesPerSector));
  return S_OK;
}

HRESULT ReaderFile::CollectChain(uint32_t start, std::vector<uint32_t>* chain) {
  chain->clear();
  uint32_t sector = start;
  while (sector != cfb::kEndOfChain) {
    if (sector >= sectorCount || chain->size() >= sectorCount) return STG_E_DOCFILECORRUPT;
    chain->push_back(sector);
    const HRESULT hr = NextSector(sector, &sector);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ReaderFile::ReadSmallStream(const DirectoryEntry& entry, std::vector<uint8_t>* bytes) {
  bytes->resize(static_cast<size_t>(entry.size));
  uint32_t mini = entry.startSector;
  size_t done = 0;
  // Neighbouring mini sectors are read together when they sit side by side in the file.
  uint64_t pendingOffset = 0;
  size_t pendingStart = 0;
  size_t pendingLength = 0;
  std::vector<uint32_t> visited;
  while (done < bytes->size()) {
    const uint64_t streamOffset = static_cast<uint64_t>(mini) * cfb::kMiniSectorSize;
    const size_t piece = std::min<size_t>(cfb::kMiniSectorSize, bytes->size() - done);
    if (mini > cfb::kMaxRegularSector || streamOffset + piece > miniStreamSize) return STG_E_DOCFILECORRUPT;
    const size_t sectorIndex = static_cast<size_t>(streamOffset >> geometry.sectorShift);
    if (sectorIndex >= miniStreamSectors.size()) return STG_E_DOCFILECORRUPT;
    const uint64_t fileOffset =
        geometry.Offset(miniStreamSectors[sectorIndex]) + (streamOffset & (geometry.sectorSize - 1));
    if (pendingLength > 0 && pendingOffset + pendingLength == fileOffset) {
      pendingLength += piece;
    } else {
      if (pendingLength > 0) {
        const HRESULT hr = ReadAt(pendingOffset, bytes->data() + pendingStart, pendingLength);
        if (FAILED(hr)) return hr;
      }
      pendingOffset = fileOffset;
      pendingStart = done;
      pendingLength = piece;
    }
    done += piece;
    if (done < bytes->size()) {
      visited.push_back(mini);
      const HRESULT hr = NextMiniSector(mini, &mini);
      if (FAILED(hr)) return hr;
      // At most 64 mini sectors: a plain search finds a loop.
      if (std::find(visited.begin(), visited.end(), mini) != visited.end()) return STG_E_DOCFILECORRUPT;
    }
  }
  if (pendingLength > 0) return ReadAt(pendingOffset, bytes->data() + pendingStart, pendingLength);
  return S_OK;
}

HRESULT ReaderFile::Load() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle.get(), &size)) return HRESULT_FROM_WIN32(GetLastError());
  fileSize = static_cast<uint64_t>(size.QuadPart);
  uint8_t headerBytes[cfb::kHeaderBytes];
  if (fileSize < sizeof headerBytes) return STG_E_INVALIDHEADER;
  HRESULT hr = ReadAt(0, headerBytes, sizeof headerBytes);
  if (FAILED(hr)) return hr;
  cfb::Header header;
  hr = cfb::DecodeHeader(headerBytes, &header);
  if (FAILED(hr)) return hr;
  geometry = header.geometry;
  fatCache.Prepare(geometry.sectorSize);
  miniFatCache.Prepare(geometry.sectorSize);
  const uint64_t sectors =
      fileSize > geometry.sectorSize ? (fileSize - geometry.sectorSize + geometry.sectorSize - 1) >> geometry.sectorShift
                                     : 0;
  sectorCount = static_cast<uint32_t>(std::min<uint64_t>(sectors, cfb::kMaxRegularSector));

  // FAT sector locations: the header's share, then the DIFAT chain.
  if (header.fatSectorCount > sectorCount) return STG_E_DOCFILECORRUPT;
  fatSectors.reserve(header.fatSectorCount);
  for (uint32_t i = 0; i < header.fatSectorCount && i < cfb::kHeaderDifatEntries; ++i) {
    if (header.difat[i] >= sectorCount) return STG_E_DOCFILECORRUPT;
    fatSectors.push_back(header.difat[i]);
  }
  std::vector<uint8_t> sector(geometry.sectorSize);
  uint32_t difat = header.firstDifatSector;
  for (uint32_t visited = 0; fatSectors.size() < header.fatSectorCount; ++visited) {
    if (visited >= header.difatSectorCount || difat >= sectorCount) return STG_E_DOCFILECORRUPT;
    hr = ReadSector(difat, sector.data());
    if (FAILED(hr)) return hr;
    for (uint32_t slot = 0; slot + 1 < geometry.entriesPerSector && fatSectors.size() < header.fatSectorCount;
         ++slot) {
      const uint32_t location = cfb::Get32(&sector[4u * slot]);
      if (location >= sectorCount) return STG_E_DOCFILECORRUPT;
      fatSectors.push_back(location);
    }
    difat = cfb::Get32(&sector[4u * (geometry.entriesPerSector - 1)]);
  }

  std::vector<uint32_t> chain;
  hr = CollectChain(header.firstDirectorySector, &chain);
  if (FAILED(hr)) return hr;
  const uint32_t perSector = geometry.sectorSize / cfb::kDirectoryEntryBytes;
  entries.resize(chain.size() * perSector);
  for (size_t s = 0; s < chain.size(); ++s) {
    hr = ReadSector(chain[s], sector.data());
    if (FAILED(hr)) return hr;
    for (uint32_t e = 0; e < perSector; ++e) {
      hr = cfb::DecodeDirectoryEntry(&sector[e * cfb::kDirectoryEntryBytes], geometry.majorVersion,
                                     &entries[s * perSector + e]);
      if (FAILED(hr)) return hr;
    }
  }
  if (entries.empty() || entries[kRootEntry].type != ObjectType::Root) return STG_E_DOCFILECORRUPT;

  if (header.miniFatSectorCount > 0) {
    hr = CollectChain(header.firstMiniFatSector, &miniFatSectors);
    if (FAILED(hr)) return hr;
  }
  const DirectoryEntry& root = entries[kRootEntry];
  if (root.size > 0) {
    hr = CollectChain(root.startSector, &miniStreamSectors);
    if (FAILED(hr)) return hr;
    miniStreamSize = std::min<uint64_t>(root.size, static_cast<uint64_t>(miniStreamSectors.size())
                                                       << geometry.sectorShift);
  }
  return S_OK;
}

}  // namespace detail

namespace {
FILETIME ToFileTime(uint64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}
}  // namespace

// ---- StreamReader ----

StreamReader::StreamReader() noexcept = default;
StreamReader::~StreamReader() = default;
StreamReader::StreamReader(StreamReader&&) noexcept = default;
StreamReader& StreamReader::operator=(StreamReader&&) noexcept = default;

HRESULT StreamReader::MoveCursorTo(uint64_t sectorIndex) noexcept {
  if (sectorIndex < cursorIndex_) {
    cursorIndex_ = 0;
    cursorSector_ = startSector_;
    loopMark_ = startSector_;
    loopSteps_ = 0;
    loopLimit_ = 1;
  }
  while (cursorIndex_ < sectorIndex) {
    uint32_t next = 0;
    const HRESULT hr = file_->NextSector(cursorSector_, &next);
    if (FAILED(hr)) return hr;
    if (next >= file_->sectorCount || next == loopMark_) return STG_E_DOCFILECORRUPT;
    if (++loopSteps_ == loopLimit_) {
      loopMark_ = next;
      loopSteps_ = 0;
      loopLimit_ *= 2;
    }
    cursorSector_ = next;
    ++cursorIndex_;
  }
  return S_OK;
}

HRESULT StreamReader::ReadRegular(uint8_t* out, size_t size) noexcept {
  const cfb::Geometry& g = file_->geometry;
  while (size > 0) {
    const uint64_t index = position_ >> g.sectorShift;
    HRESULT hr = MoveCursorTo(index);
    if (FAILED(hr)) return hr;
    const uint32_t offsetInSector = static_cast<uint32_t>(position_ & (g.sectorSize - 1));
    // Extend over sectors that follow each other in the file: one read for the run.
    const uint64_t wanted = static_cast<uint64_t>(offsetInSector) + size;
    uint64_t runSectors = 1;
    uint32_t last = cursorSector_;
    while ((runSectors << g.sectorShift) < wanted) {
      uint32_t next = 0;
      hr = file_->NextSector(last, &next);
      if (FAILED(hr)) return hr;
      if (next != last + 1 || next >= file_->sectorCount) break;
      last = next;
      ++runSectors;
    }
    const size_t piece =
        static_cast<size_t>(std::min<uint64_t>(size, (runSectors << g.sectorShift) - offsetInSector));
    hr = file_->ReadAt(g.Offset(cursorSector_) + offsetInSector, out, piece);
    if (FAILED(hr)) return hr;
    position_ += piece;
    out += piece;
    size -= piece;
    // Inside the run the chain is known; step the cursor without the FAT.
    const uint64_t newIndex = position_ >> g.sectorShift;
    const uint64_t step = std::min<uint64_t>(newIndex - index, runSectors - 1);
    cursorSector_ += static_cast<uint32_t>(step);
    cursorIndex_ += step;
  }
  return S_OK;
}

HRESULT StreamReader::Read(void* buffer, size_t size, size_t* read) noexcept {
  if (read) *read = 0;
  if (!buffer && size > 0) return E_INVALIDARG;
  if (!file_) return E_UNEXPECTED;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(size, size_ - position_));
  if (!regular_) {
    if (wanted > 0) std::memcpy(out, small_.data() + position_, wanted);
    position_ += wanted;
    if (read) *read = wanted;
    return S_OK;
  }
  size_t done = 0;
  HRESULT hr = S_OK;
  while (done < wanted && SUCCEEDED(hr)) {
    if (position_ >= aheadStart_ && position_ < aheadStart_ + ahead_.size()) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(wanted - done, aheadStart_ + ahead_.size() - position_));
      std::memcpy(out + done, ahead_.data() + (position_ - aheadStart_), piece);
      position_ += piece;
      done += piece;
    } else if (wanted - done >= kReadAhead) {
      // Large reads go straight into the caller's buffer.
      const uint64_t before = position_;
      hr = ReadRegular(out + done, wanted - done);
      done += static_cast<size_t>(position_ - before);
    } else {
      // Small reads are served from one larger read of what follows.
      const uint64_t start = position_;
      const size_t fill = static_cast<size_t>(std::min<uint64_t>(kReadAhead, size_ - start));
      ahead_.clear();
      try {
        ahead_.resize(fill);
      } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
        break;
      }
      hr = ReadRegular(ahead_.data(), fill);
      position_ = start;
      if (FAILED(hr)) ahead_.clear();
      aheadStart_ = start;
    }
  }
  if (read) *read = done;
  return hr;
}

HRESULT StreamReader::Seek(uint64_t position) noexcept {
  if (!file_) return E_UNEXPECTED;
  if (position > size_) return E_INVALIDARG;
  position_ = position;
  return S_OK;
}

// ---- CompoundFileReader ----

CompoundFileReader::CompoundFileReader() noexcept = default;
CompoundFileReader::~CompoundFileReader() = default;

HRESULT CompoundFileReader::Open(const wchar_t* path) noexcept {
  if (!path || !*path) return E_INVALIDARG;
  if (file_) return E_UNEXPECTED;
  try {
    auto file = std::make_shared<detail::ReaderFile>();
    file->handle.reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file->handle.valid()) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return STG_E_FILENOTFOUND;
      return HRESULT_FROM_WIN32(error);
    }
    const HRESULT hr = file->Load();
    if (FAILED(hr)) return hr;
    file_ = std::move(file);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void CompoundFileReader::Close() noexcept { file_.reset(); }

unsigned CompoundFileReader::MajorVersion() const noexcept { return file_ ? file_->geometry.majorVersion : 0; }

HRESULT CompoundFileReader::GetEntry(EntryId id, EntryInfo* info) const noexcept {
  if (!file_) return E_UNEXPECTED;
  if (!info || id >= file_->entries.size() || file_->entries[id].type == ObjectType::Unused) return E_INVALIDARG;
  const DirectoryEntry& entry = file_->entries[id];
  try {
    info->name = entry.name;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  info->type = entry.type == ObjectType::Root      ? EntryType::Root
               : entry.type == ObjectType::Storage ? EntryType::Storage
                                                   : EntryType::Stream;
  info->size = entry.type == ObjectType::Storage ? 0 : entry.size;
  info->clsid = entry.clsid;
  info->created = ToFileTime(entry.created);
  info->modified = ToFileTime(entry.modified);
  return S_OK;
}

HRESULT CompoundFileReader::ListChildren(EntryId storage, std::vector<EntryId>* children) const noexcept {
  if (!file_) return E_UNEXPECTED;
  const std::vector<DirectoryEntry>& entries = file_->entries;
  if (!children || storage >= entries.size()) return E_INVALIDARG;
  if (entries[storage].type != ObjectType::Storage && entries[storage].type != ObjectType::Root) {
    return E_INVALIDARG;
  }
  try {
    children->clear();
    // In-order walk of the sibling tree; a node seen twice means a loop.
    std::vector<bool> seen(entries.size(), false);
    std::vector<uint32_t> stack;
    uint32_t node = entries[storage].child;
    while (node != cfb::kNoStream || !stack.empty()) {
      while (node != cfb::kNoStream) {
        if (node >= entries.size() || seen[node] || entries[node].type == ObjectType::Unused ||
            entries[node].type == ObjectType::Root) {
          return STG_E_DOCFILECORRUPT;
        }
        seen[node] = true;
        stack.push_back(node);
        node = entries[node].left;
      }
      node = stack.back();
      stack.pop_back();
      children->push_back(node);
      node = entries[node].right;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CompoundFileReader::FindChild(EntryId storage, const wchar_t* name, EntryId* child) const noexcept {
  if (!name || !child) return E_INVALIDARG;
  std::vector<EntryId> children;
  HRESULT hr = ListChildren(storage, &children);
  if (FAILED(hr)) return hr;
  try {
    const std::wstring wanted(name);
    for (EntryId id : children) {
      if (cfb::CompareNames(file_->entries[id].name, wanted) == 0) {
        *child = id;
        return S_OK;
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return MAPI_E_NOT_FOUND;
}

HRESULT CompoundFileReader::OpenStream(EntryId id, StreamReader* reader) const noexcept {
  if (!file_) return E_UNEXPECTED;
  if (!reader || id >= file_->entries.size() || file_->entries[id].type != ObjectType::Stream) {
    return E_INVALIDARG;
  }
  const DirectoryEntry& entry = file_->entries[id];
  StreamReader opened;
  opened.file_ = file_;
  opened.size_ = entry.size;
  try {
    if (entry.size >= cfb::kMiniStreamCutoff) {
      if (entry.startSector >= file_->sectorCount) return STG_E_DOCFILECORRUPT;
      opened.regular_ = true;
      opened.startSector_ = entry.startSector;
      opened.cursorSector_ = entry.startSector;
      opened.loopMark_ = entry.startSector;
    } else if (entry.size > 0) {
      const HRESULT hr = file_->ReadSmallStream(entry, &opened.small_);
      if (FAILED(hr)) return hr;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *reader = std::move(opened);
  return S_OK;
}

HRESULT CompoundFileReader::ReadStream(EntryId id, uint64_t limit, std::vector<uint8_t>* bytes) const noexcept {
  if (!bytes) return E_INVALIDARG;
  StreamReader reader;
  HRESULT hr = OpenStream(id, &reader);
  if (FAILED(hr)) return hr;
  if (reader.Size() > limit) return MAPI_E_TOO_BIG;
  try {
    bytes->resize(static_cast<size_t>(reader.Size()));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  size_t read = 0;
  hr = reader.Read(bytes->data(), bytes->size(), &read);
  if (SUCCEEDED(hr) && read != bytes->size()) hr = STG_E_DOCFILECORRUPT;
  return hr;
}

}  // namespace msgfile
