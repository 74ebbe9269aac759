#include <msgfile/compound_file_writer.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "compound_file_layout.h"
#include "sequential_file.h"

namespace msgfile {

using cfb::Color;
using cfb::DirectoryEntry;
using cfb::Geometry;
using cfb::ObjectType;

namespace {

struct Content {
  enum class State : uint8_t { Open, Ended, Discarded };
  State state = State::Open;
  bool linked = false;
  bool inFile = false;  // bytes are in consecutive sectors of the file, not in memory
  uint32_t firstSector = cfb::kEndOfChain;
  uint32_t sectorCount = 0;
  uint32_t firstMiniSector = cfb::kEndOfChain;
  uint64_t size = 0;
  std::vector<uint8_t> memory;
};

struct Node {
  std::wstring name;
  ObjectType type = ObjectType::Storage;
  CLSID clsid = {};
  std::vector<EntryId> children;
  ContentId content = kNoContent;
};

// Consecutive sectors that either chain one to the next (the last ending the
// chain) or all carry one marker (FAT and DIFAT sectors).
struct Run {
  uint32_t first = 0;
  uint32_t count = 0;
  bool chain = true;
  uint32_t marker = cfb::kFreeSector;
};

// Collects 32-bit table entries into whole sectors; the last sector is padded
// with free entries.
class TableSink {
 public:
  TableSink(SequentialFile* file, uint32_t entriesPerSector)
      : file_(file), entriesPerSector_(entriesPerSector), sector_(entriesPerSector * 4u) {}

  HRESULT Put(uint32_t value) {
    cfb::Put32(&sector_[used_ * 4u], value);
    if (++used_ < entriesPerSector_) return S_OK;
    used_ = 0;
    return file_->Append(sector_.data(), sector_.size());
  }
  HRESULT Close() {
    if (used_ == 0) return S_OK;
    while (used_ != 0) {
      const HRESULT hr = Put(cfb::kFreeSector);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

 private:
  SequentialFile* file_;
  uint32_t entriesPerSector_;
  std::vector<uint8_t> sector_;
  uint32_t used_ = 0;
};

uint64_t CurrentFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

struct CompoundFileWriter::Impl {
  Geometry geometry;
  SequentialFile file;
  std::vector<Content> contents;
  std::vector<Node> nodes;
  ContentId open = kNoContent;
  HRESULT failure = S_OK;
  uint64_t createdTime = 0;

  // The failure of a write leaves the file inconsistent: it sticks.
  HRESULT Check(HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(failure)) failure = hr;
    return hr;
  }
  uint32_t NextSector() const { return static_cast<uint32_t>((file.Size() >> geometry.sectorShift) - 1); }
  HRESULT PadToSector() {
    const uint64_t partial = file.Size() & (geometry.sectorSize - 1);
    return partial == 0 ? S_OK : Check(file.AppendZeros(geometry.sectorSize - partial));
  }
  // The sectors written since start, as one chained run; answers its length.
  uint32_t AddRunSince(uint32_t start, std::vector<Run>* runs) const {
    Run run;
    run.first = start;
    run.count = NextSector() - start;
    runs->push_back(run);
    return run.count;
  }
  HRESULT CheckRoom(uint64_t more) const {
    return file.Size() + more > kMaxFileBytes ? STG_E_DOCFILETOOLARGE : S_OK;
  }

  HRESULT AddNode(EntryId parent, const wchar_t* name, ObjectType type, EntryId* out);
  HRESULT MoveToFile(Content* content);
  HRESULT WriteRegularContents();
  HRESULT WriteMiniStream(std::vector<Run>* runs, uint32_t* miniSectors, uint32_t* firstSector);
  HRESULT WriteMiniFat(uint32_t miniSectors, std::vector<Run>* runs, uint32_t* firstSector, uint32_t* count);
  HRESULT WriteDirectory(uint32_t miniStreamStart, uint32_t miniSectors, std::vector<Run>* runs,
                         uint32_t* firstSector, uint32_t* count);
  HRESULT WriteTables(std::vector<Run>* runs, cfb::Header* header);
  HRESULT WriteEverything(const wchar_t* finalPath);
  HRESULT Finish(const wchar_t* finalPath) {
    if (FAILED(failure)) return failure;
    if (open != kNoContent) return E_UNEXPECTED;
    // Past this point a failure leaves a half-written tail: it sticks.
    const HRESULT hr = WriteEverything(finalPath);
    if (FAILED(hr)) failure = hr;
    return hr;
  }
};

HRESULT CompoundFileWriter::Impl::AddNode(EntryId parent, const wchar_t* name, ObjectType type, EntryId* out) {
  if (parent >= nodes.size()) return E_INVALIDARG;
  if (nodes[parent].type != ObjectType::Storage && nodes[parent].type != ObjectType::Root) return E_INVALIDARG;
  if (!cfb::IsValidName(name)) return STG_E_INVALIDNAME;
  Node node;
  node.name = name;
  node.type = type;
  for (EntryId sibling : nodes[parent].children) {
    if (cfb::CompareNames(nodes[sibling].name, node.name) == 0) return STG_E_FILEALREADYEXISTS;
  }
  if (nodes.size() >= cfb::kMaxRegularSector) return STG_E_DOCFILETOOLARGE;
  const EntryId id = static_cast<EntryId>(nodes.size());
  nodes[parent].children.reserve(nodes[parent].children.size() + 1);
  nodes.push_back(std::move(node));
  nodes[parent].children.push_back(id);
  *out = id;
  return S_OK;
}

// Content that reached the cutoff starts its run of sectors at the current end.
HRESULT CompoundFileWriter::Impl::MoveToFile(Content* content) {
  HRESULT hr = CheckRoom(content->memory.size());
  if (FAILED(hr)) return hr;
  content->firstSector = NextSector();
  content->inFile = true;
  hr = Check(file.Append(content->memory.data(), content->memory.size()));
  std::vector<uint8_t>().swap(content->memory);
  return hr;
}

HRESULT CompoundFileWriter::Impl::WriteRegularContents() {
  for (Content& content : contents) {
    if (!content.linked || content.inFile || content.size < cfb::kMiniStreamCutoff) continue;
    HRESULT hr = MoveToFile(&content);
    if (FAILED(hr)) return hr;
    content.sectorCount = static_cast<uint32_t>((content.size + geometry.sectorSize - 1) >> geometry.sectorShift);
    hr = PadToSector();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CompoundFileWriter::Impl::WriteMiniStream(std::vector<Run>* runs, uint32_t* miniSectors,
                                                  uint32_t* firstSector) {
  *miniSectors = 0;
  *firstSector = cfb::kEndOfChain;
  const uint32_t start = NextSector();
  uint32_t next = 0;
  for (const Node& node : nodes) {
    if (node.type != ObjectType::Stream) continue;
    Content& content = contents[node.content];
    if (content.inFile || content.size == 0) continue;
    content.firstMiniSector = next;
    next += static_cast<uint32_t>((content.size + cfb::kMiniSectorSize - 1) / cfb::kMiniSectorSize);
    HRESULT hr = CheckRoom(content.memory.size() + cfb::kMiniSectorSize);
    if (SUCCEEDED(hr)) hr = Check(file.Append(content.memory.data(), content.memory.size()));
    const uint64_t partial = content.size % cfb::kMiniSectorSize;
    if (SUCCEEDED(hr) && partial != 0) hr = Check(file.AppendZeros(cfb::kMiniSectorSize - partial));
    if (FAILED(hr)) return hr;
    std::vector<uint8_t>().swap(content.memory);
  }
  if (next == 0) return S_OK;
  const HRESULT hr = PadToSector();
  if (FAILED(hr)) return hr;
  AddRunSince(start, runs);
  *miniSectors = next;
  *firstSector = start;
  return S_OK;
}

HRESULT CompoundFileWriter::Impl::WriteMiniFat(uint32_t miniSectors, std::vector<Run>* runs,
                                               uint32_t* firstSector, uint32_t* count) {
  *firstSector = cfb::kEndOfChain;
  *count = 0;
  if (miniSectors == 0) return S_OK;
  const uint32_t start = NextSector();
  TableSink sink(&file, geometry.entriesPerSector);
  for (const Node& node : nodes) {
    if (node.type != ObjectType::Stream) continue;
    const Content& content = contents[node.content];
    if (content.firstMiniSector == cfb::kEndOfChain) continue;
    const uint32_t length = static_cast<uint32_t>((content.size + cfb::kMiniSectorSize - 1) / cfb::kMiniSectorSize);
    for (uint32_t i = 0; i < length; ++i) {
      const uint32_t sector = content.firstMiniSector + i;
      const HRESULT hr = Check(sink.Put(i + 1 < length ? sector + 1 : cfb::kEndOfChain));
      if (FAILED(hr)) return hr;
    }
  }
  const HRESULT hr = Check(sink.Close());
  if (FAILED(hr)) return hr;
  *count = AddRunSince(start, runs);
  *firstSector = start;
  return S_OK;
}

HRESULT CompoundFileWriter::Impl::WriteDirectory(uint32_t miniStreamStart, uint32_t miniSectors,
                                                 std::vector<Run>* runs, uint32_t* firstSector, uint32_t* count) {
  std::vector<DirectoryEntry> entries(nodes.size());
  const uint64_t now = CurrentFileTime();
  for (size_t i = 0; i < nodes.size(); ++i) {
    const Node& node = nodes[i];
    DirectoryEntry& entry = entries[i];
    entry.name = node.name;
    entry.type = node.type;
    entry.clsid = node.clsid;
    if (node.type == ObjectType::Storage) {
      entry.created = createdTime;
      entry.modified = now;
      entry.startSector = 0;
    } else if (node.type == ObjectType::Root) {
      // The root's creation time stays zero; the file system keeps it.
      entry.modified = now;
      entry.startSector = miniSectors ? miniStreamStart : cfb::kEndOfChain;
      entry.size = static_cast<uint64_t>(miniSectors) * cfb::kMiniSectorSize;
    } else {
      const Content& content = contents[node.content];
      entry.size = content.size;
      entry.startSector = content.inFile                   ? content.firstSector
                          : content.size > 0              ? content.firstMiniSector
                                                          : cfb::kEndOfChain;
    }
  }
  std::vector<uint32_t> sorted;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (nodes[i].type == ObjectType::Stream || nodes[i].children.empty()) continue;
    sorted.assign(nodes[i].children.begin(), nodes[i].children.end());
    std::sort(sorted.begin(), sorted.end(), [this](uint32_t a, uint32_t b) {
      return cfb::CompareNames(nodes[a].name, nodes[b].name) < 0;
    });
    entries[i].child = cfb::BuildSiblingTree(sorted, &entries);
  }
  entries[kRootEntry].color = Color::Black;

  const uint32_t start = NextSector();
  uint8_t encoded[cfb::kDirectoryEntryBytes];
  for (const DirectoryEntry& entry : entries) {
    cfb::EncodeDirectoryEntry(entry, encoded);
    const HRESULT hr = Check(file.Append(encoded, sizeof encoded));
    if (FAILED(hr)) return hr;
  }
  const DirectoryEntry unused;
  cfb::EncodeDirectoryEntry(unused, encoded);
  while (file.Size() & (geometry.sectorSize - 1)) {
    const HRESULT hr = Check(file.Append(encoded, sizeof encoded));
    if (FAILED(hr)) return hr;
  }
  *count = AddRunSince(start, runs);
  *firstSector = start;
  return S_OK;
}

HRESULT CompoundFileWriter::Impl::WriteTables(std::vector<Run>* runs, cfb::Header* header) {
  const uint32_t perSector = geometry.entriesPerSector;
  const uint32_t dataSectors = NextSector();
  const cfb::FatLayout layout = cfb::ComputeFatLayout(dataSectors, perSector);
  HRESULT hr = CheckRoom((static_cast<uint64_t>(layout.fatSectors) + layout.difatSectors) << geometry.sectorShift);
  if (FAILED(hr)) return hr;
  const uint32_t fatStart = dataSectors;
  const uint32_t difatStart = fatStart + layout.fatSectors;

  Run fatRun;
  fatRun.first = fatStart;
  fatRun.count = layout.fatSectors;
  fatRun.chain = false;
  fatRun.marker = cfb::kFatSector;
  runs->push_back(fatRun);
  Run difatRun = fatRun;
  difatRun.first = difatStart;
  difatRun.count = layout.difatSectors;
  difatRun.marker = cfb::kDifatSector;
  runs->push_back(difatRun);
  runs->erase(std::remove_if(runs->begin(), runs->end(), [](const Run& r) { return r.count == 0; }), runs->end());
  std::sort(runs->begin(), runs->end(), [](const Run& a, const Run& b) { return a.first < b.first; });

  // The FAT, generated run by run: one entry per sector, free where no run lies.
  TableSink sink(&file, perSector);
  const uint64_t entries = static_cast<uint64_t>(layout.fatSectors) * perSector;
  size_t r = 0;
  for (uint64_t sector = 0; sector < entries; ++sector) {
    while (r < runs->size() && sector >= static_cast<uint64_t>((*runs)[r].first) + (*runs)[r].count) ++r;
    uint32_t value = cfb::kFreeSector;
    if (r < runs->size() && sector >= (*runs)[r].first) {
      const Run& run = (*runs)[r];
      if (!run.chain) {
        value = run.marker;
      } else {
        value = sector + 1 < static_cast<uint64_t>(run.first) + run.count ? static_cast<uint32_t>(sector + 1)
                                                                           : cfb::kEndOfChain;
      }
    }
    hr = Check(sink.Put(value));
    if (FAILED(hr)) return hr;
  }

  // The DIFAT: FAT sector numbers beyond the header's 109, each sector's
  // last slot linking to the next DIFAT sector.
  uint32_t listed = std::min<uint32_t>(layout.fatSectors, cfb::kHeaderDifatEntries);
  for (uint32_t d = 0; d < layout.difatSectors; ++d) {
    for (uint32_t slot = 0; slot + 1 < perSector; ++slot) {
      hr = Check(sink.Put(listed < layout.fatSectors ? fatStart + listed++ : cfb::kFreeSector));
      if (FAILED(hr)) return hr;
    }
    hr = Check(sink.Put(d + 1 < layout.difatSectors ? difatStart + d + 1 : cfb::kEndOfChain));
    if (FAILED(hr)) return hr;
  }
  hr = Check(sink.Close());
  if (FAILED(hr)) return hr;

  header->fatSectorCount = layout.fatSectors;
  for (uint32_t i = 0; i < layout.fatSectors && i < cfb::kHeaderDifatEntries; ++i) header->difat[i] = fatStart + i;
  header->firstDifatSector = layout.difatSectors ? difatStart : cfb::kEndOfChain;
  header->difatSectorCount = layout.difatSectors;
  return S_OK;
}

HRESULT CompoundFileWriter::Impl::WriteEverything(const wchar_t* finalPath) {
  std::vector<Run> runs;
  HRESULT hr = WriteRegularContents();
  if (FAILED(hr)) return hr;
  for (const Content& content : contents) {
    if (!content.linked || !content.inFile || content.sectorCount == 0) continue;
    Run run;
    run.first = content.firstSector;
    run.count = content.sectorCount;
    runs.push_back(run);
  }
  uint32_t miniSectors = 0;
  uint32_t miniStreamStart = cfb::kEndOfChain;
  hr = WriteMiniStream(&runs, &miniSectors, &miniStreamStart);
  if (FAILED(hr)) return hr;

  cfb::Header header;
  header.geometry = geometry;
  hr = WriteMiniFat(miniSectors, &runs, &header.firstMiniFatSector, &header.miniFatSectorCount);
  if (FAILED(hr)) return hr;
  hr = WriteDirectory(miniStreamStart, miniSectors, &runs, &header.firstDirectorySector,
                      &header.directorySectorCount);
  if (FAILED(hr)) return hr;
  hr = WriteTables(&runs, &header);
  if (FAILED(hr)) return hr;

  uint8_t encoded[cfb::kHeaderBytes];
  cfb::EncodeHeader(header, encoded);
  hr = Check(file.WriteAt(0, encoded, sizeof encoded));
  if (FAILED(hr)) return hr;
  return Check(file.Keep(finalPath));
}

CompoundFileWriter::CompoundFileWriter() noexcept = default;
CompoundFileWriter::~CompoundFileWriter() { Abandon(); }

bool CompoundFileWriter::IsOpen() const noexcept { return impl_ != nullptr; }

HRESULT CompoundFileWriter::Create(const wchar_t* path, unsigned majorVersion, bool markForDeletion) noexcept {
  if (impl_) return E_UNEXPECTED;
  Geometry geometry;
  if (!path || !cfb::GeometryForVersion(majorVersion, &geometry)) return E_INVALIDARG;
  try {
    std::unique_ptr<Impl> impl(new Impl);
    impl->geometry = geometry;
    Node root;
    root.name = L"Root Entry";
    root.type = ObjectType::Root;
    impl->nodes.push_back(std::move(root));
    impl->createdTime = CurrentFileTime();
    HRESULT hr = impl->file.Create(path, markForDeletion);
    if (FAILED(hr)) return hr;
    // Room for the header, written last.
    hr = impl->file.AppendZeros(geometry.sectorSize);
    if (FAILED(hr)) return hr;  // the file is discarded with impl
    impl_ = std::move(impl);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CompoundFileWriter::AddStorage(EntryId parent, const wchar_t* name, EntryId* storage) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (!storage) return E_INVALIDARG;
  if (FAILED(impl_->failure)) return impl_->failure;
  try {
    return impl_->AddNode(parent, name, ObjectType::Storage, storage);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CompoundFileWriter::SetClassId(EntryId storage, const CLSID& clsid) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (storage >= impl_->nodes.size() || impl_->nodes[storage].type == ObjectType::Stream) return E_INVALIDARG;
  impl_->nodes[storage].clsid = clsid;
  return S_OK;
}

HRESULT CompoundFileWriter::AddStream(EntryId parent, const wchar_t* name, const void* data, size_t size,
                                      EntryId* stream) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (!data && size > 0) return E_INVALIDARG;
  if (FAILED(impl_->failure)) return impl_->failure;
  if (size > kMaxFileBytes) return STG_E_DOCFILETOOLARGE;
  try {
    Content content;
    content.state = Content::State::Ended;
    content.size = size;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    content.memory.assign(bytes, bytes + size);
    impl_->contents.reserve(impl_->contents.size() + 1);  // the push_back below cannot fail
    EntryId id = 0;
    const HRESULT hr = impl_->AddNode(parent, name, ObjectType::Stream, &id);
    if (FAILED(hr)) return hr;
    content.linked = true;
    impl_->nodes[id].content = static_cast<ContentId>(impl_->contents.size());
    impl_->contents.push_back(std::move(content));
    if (stream) *stream = id;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CompoundFileWriter::AddStream(EntryId parent, const wchar_t* name, ContentId content,
                                      EntryId* stream) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (FAILED(impl_->failure)) return impl_->failure;
  if (content >= impl_->contents.size()) return E_INVALIDARG;
  Content& target = impl_->contents[content];
  if (target.state != Content::State::Ended || target.linked) return E_UNEXPECTED;
  try {
    EntryId id = 0;
    const HRESULT hr = impl_->AddNode(parent, name, ObjectType::Stream, &id);
    if (FAILED(hr)) return hr;
    impl_->nodes[id].content = content;
    target.linked = true;
    if (stream) *stream = id;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CompoundFileWriter::BeginContent(ContentId* content) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (!content) return E_INVALIDARG;
  if (FAILED(impl_->failure)) return impl_->failure;
  if (impl_->open != kNoContent) return E_UNEXPECTED;
  try {
    impl_->contents.emplace_back();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  impl_->open = static_cast<ContentId>(impl_->contents.size() - 1);
  *content = impl_->open;
  return S_OK;
}

HRESULT CompoundFileWriter::WriteContent(const void* data, size_t size) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (!data && size > 0) return E_INVALIDARG;
  if (FAILED(impl_->failure)) return impl_->failure;
  if (impl_->open == kNoContent) return E_UNEXPECTED;
  if (size == 0) return S_OK;
  Content& content = impl_->contents[impl_->open];
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  try {
    if (!content.inFile) {
      if (content.size + size < cfb::kMiniStreamCutoff) {
        content.memory.insert(content.memory.end(), bytes, bytes + size);
        content.size += size;
        return S_OK;
      }
      // Reaching the cutoff: from here on the bytes go to the file as they come.
      const HRESULT hr = impl_->MoveToFile(&content);
      if (FAILED(hr)) return hr;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = impl_->CheckRoom(size);
  if (FAILED(hr)) return hr;
  hr = impl_->Check(impl_->file.Append(bytes, size));
  if (SUCCEEDED(hr)) content.size += size;
  return hr;
}

HRESULT CompoundFileWriter::EndContent() noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (FAILED(impl_->failure)) return impl_->failure;
  if (impl_->open == kNoContent) return E_UNEXPECTED;
  Content& content = impl_->contents[impl_->open];
  if (content.inFile) {
    const HRESULT hr = impl_->PadToSector();
    if (FAILED(hr)) return hr;
    content.sectorCount = impl_->NextSector() - content.firstSector;
  }
  content.state = Content::State::Ended;
  impl_->open = kNoContent;
  return S_OK;
}

HRESULT CompoundFileWriter::DiscardContent(ContentId id) noexcept {
  if (!impl_) return E_UNEXPECTED;
  if (id >= impl_->contents.size()) return E_INVALIDARG;
  Content& content = impl_->contents[id];
  if (content.linked) return E_UNEXPECTED;
  if (content.state == Content::State::Discarded) return S_OK;
  if (impl_->open == id) {
    // Keep the end of the file on a sector boundary for the next content.
    if (content.inFile && SUCCEEDED(impl_->failure)) impl_->PadToSector();
    impl_->open = kNoContent;
  }
  content.state = Content::State::Discarded;
  std::vector<uint8_t>().swap(content.memory);
  return S_OK;
}

uint64_t CompoundFileWriter::ContentSize(ContentId id) const noexcept {
  if (!impl_ || id >= impl_->contents.size()) return 0;
  return impl_->contents[id].size;
}

uint64_t CompoundFileWriter::ProjectedSize(uint64_t moreBytes, uint32_t moreEntries) const noexcept {
  if (!impl_) return 0;
  const Geometry& geometry = impl_->geometry;
  // What is still in memory goes to the mini stream or to sectors of its own:
  // either way its bytes, a sector of padding and four bytes of table per
  // 64-byte mini sector at most.
  uint64_t data = impl_->file.Size() + moreBytes;
  for (const Content& content : impl_->contents) {
    if (content.state == Content::State::Discarded || content.inFile) continue;
    data += content.memory.size() + geometry.sectorSize + content.memory.size() / 16 + 4;
  }
  data += (static_cast<uint64_t>(impl_->nodes.size()) + moreEntries) * cfb::kDirectoryEntryBytes;
  data += 2ull * geometry.sectorSize;  // the last data sector and the mini stream's, padded
  const uint64_t sectors = (data + geometry.sectorSize - 1) >> geometry.sectorShift;
  // Each FAT sector maps entriesPerSector sectors, its own included.
  const uint64_t perSector = geometry.entriesPerSector;
  const uint64_t fat = (sectors + perSector - 2) / (perSector - 1);
  const uint64_t difat = fat > cfb::kHeaderDifatEntries ? (fat - cfb::kHeaderDifatEntries + perSector - 2) / (perSector - 1) : 0;
  return (sectors + fat + difat) << geometry.sectorShift;
}

HRESULT CompoundFileWriter::Finish(uint64_t* fileSize, const wchar_t* finalPath) noexcept {
  if (!impl_) return E_UNEXPECTED;
  HRESULT hr = E_OUTOFMEMORY;
  try {
    hr = impl_->Finish(finalPath);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
    impl_->failure = hr;
  }
  // A finished file is closed; a failed one stays until Abandon, so the
  // caller sees the failure before the file goes.
  if (SUCCEEDED(hr)) {
    if (fileSize) *fileSize = impl_->file.Size();
    impl_.reset();
  }
  return hr;
}

void CompoundFileWriter::Abandon() noexcept {
  if (!impl_) return;
  impl_->file.Discard();
  impl_.reset();
}

}  // namespace msgfile
