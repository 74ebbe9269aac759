#include "compound_file_layout.h"

#include <cstring>
#include <cwchar>

namespace msgfile {
namespace cfb {

bool GeometryForVersion(unsigned majorVersion, Geometry* out) {
  Geometry g;
  if (majorVersion == 3) {
    g.sectorShift = 9;
  } else if (majorVersion == 4) {
    g.sectorShift = 12;
  } else {
    return false;
  }
  g.majorVersion = static_cast<uint16_t>(majorVersion);
  g.sectorSize = 1u << g.sectorShift;
  g.entriesPerSector = g.sectorSize / 4;
  *out = g;
  return true;
}

Header::Header() {
  for (uint32_t& slot : difat) slot = kFreeSector;
}

void EncodeHeader(const Header& h, uint8_t out[kHeaderBytes]) {
  std::memset(out, 0, kHeaderBytes);
  std::memcpy(out, kSignature, sizeof kSignature);
  // 0x08: header CLSID, all zeros.
  Put16(out + 0x18, kMinorVersion);
  Put16(out + 0x1A, h.geometry.majorVersion);
  Put16(out + 0x1C, kByteOrderMark);
  Put16(out + 0x1E, h.geometry.sectorShift);
  Put16(out + 0x20, static_cast<uint16_t>(kMiniSectorShift));
  // 0x22: six reserved bytes.
  Put32(out + 0x28, h.geometry.majorVersion == 3 ? 0 : h.directorySectorCount);
  Put32(out + 0x2C, h.fatSectorCount);
  Put32(out + 0x30, h.firstDirectorySector);
  Put32(out + 0x34, 0);  // transaction signature: no transactions
  Put32(out + 0x38, kMiniStreamCutoff);
  Put32(out + 0x3C, h.firstMiniFatSector);
  Put32(out + 0x40, h.miniFatSectorCount);
  Put32(out + 0x44, h.firstDifatSector);
  Put32(out + 0x48, h.difatSectorCount);
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) Put32(out + 0x4C + 4 * i, h.difat[i]);
}

HRESULT DecodeHeader(const uint8_t in[kHeaderBytes], Header* out) {
  if (std::memcmp(in, kSignature, sizeof kSignature) != 0) return STG_E_INVALIDHEADER;
  if (Get16(in + 0x1C) != kByteOrderMark) return STG_E_INVALIDHEADER;
  Header h;
  const uint16_t major = Get16(in + 0x1A);
  if (!GeometryForVersion(major, &h.geometry)) return STG_E_OLDFORMAT;
  if (Get16(in + 0x1E) != h.geometry.sectorShift) return STG_E_INVALIDHEADER;
  if (Get16(in + 0x20) != kMiniSectorShift) return STG_E_INVALIDHEADER;
  if (Get32(in + 0x38) != kMiniStreamCutoff) return STG_E_INVALIDHEADER;
  h.directorySectorCount = Get32(in + 0x28);
  h.fatSectorCount = Get32(in + 0x2C);
  h.firstDirectorySector = Get32(in + 0x30);
  h.firstMiniFatSector = Get32(in + 0x3C);
  h.miniFatSectorCount = Get32(in + 0x40);
  h.firstDifatSector = Get32(in + 0x44);
  h.difatSectorCount = Get32(in + 0x48);
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) h.difat[i] = Get32(in + 0x4C + 4 * i);
  *out = h;
  return S_OK;
}

void EncodeDirectoryEntry(const DirectoryEntry& e, uint8_t out[kDirectoryEntryBytes]) {
  std::memset(out, 0, kDirectoryEntryBytes);
  if (e.type == ObjectType::Unused) {
    Put32(out + 0x44, kNoStream);
    Put32(out + 0x48, kNoStream);
    Put32(out + 0x4C, kNoStream);
    return;
  }
  const size_t chars = e.name.size() > kMaxNameChars ? kMaxNameChars : e.name.size();
  for (size_t i = 0; i < chars; ++i) Put16(out + 2 * i, static_cast<uint16_t>(e.name[i]));
  Put16(out + 0x40, static_cast<uint16_t>((chars + 1) * 2));
  out[0x42] = static_cast<uint8_t>(e.type);
  out[0x43] = static_cast<uint8_t>(e.color);
  Put32(out + 0x44, e.left);
  Put32(out + 0x48, e.right);
  Put32(out + 0x4C, e.child);
  std::memcpy(out + 0x50, &e.clsid, sizeof(CLSID));
  Put32(out + 0x60, e.stateBits);
  Put64(out + 0x64, e.created);
  Put64(out + 0x6C, e.modified);
  Put32(out + 0x74, e.startSector);
  Put64(out + 0x78, e.size);
}

HRESULT DecodeDirectoryEntry(const uint8_t in[kDirectoryEntryBytes], unsigned majorVersion, DirectoryEntry* out) {
  DirectoryEntry e;
  const uint8_t type = in[0x42];
  if (type != 0 && type != 1 && type != 2 && type != 5) return STG_E_DOCFILECORRUPT;
  e.type = static_cast<ObjectType>(type);
  if (e.type != ObjectType::Unused) {
    const uint16_t nameBytes = Get16(in + 0x40);
    if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0) return STG_E_DOCFILECORRUPT;
    e.name.resize(nameBytes / 2 - 1);
    for (size_t i = 0; i < e.name.size(); ++i) e.name[i] = static_cast<wchar_t>(Get16(in + 2 * i));
  }
  e.color = in[0x43] == 0 ? Color::Red : Color::Black;
  e.left = Get32(in + 0x44);
  e.right = Get32(in + 0x48);
  e.child = Get32(in + 0x4C);
  std::memcpy(&e.clsid, in + 0x50, sizeof(CLSID));
  e.stateBits = Get32(in + 0x60);
  e.created = Get64(in + 0x64);
  e.modified = Get64(in + 0x6C);
  e.startSector = Get32(in + 0x74);
  e.size = Get64(in + 0x78);
  // Older writers leave garbage in the high half; version 3 sizes are 32-bit.
  if (majorVersion == 3) e.size &= 0xFFFFFFFFu;
  *out = std::move(e);
  return S_OK;
}

bool IsValidName(const wchar_t* name) {
  if (!name) return false;
  const size_t length = std::wcslen(name);
  if (length == 0 || length > kMaxNameChars) return false;
  for (size_t i = 0; i < length; ++i) {
    const wchar_t c = name[i];
    if (c == L'/' || c == L'\\' || c == L':' || c == L'!') return false;
  }
  return true;
}

namespace {
wchar_t UpperCodeUnit(wchar_t c) {
  if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
  wchar_t upper = c;
  // Locale-independent simple case mapping, one code unit at a time.
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &c, 1, &upper, 1) != 1) return c;
  return upper;
}
}  // namespace

int CompareNames(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const wchar_t ua = UpperCodeUnit(a[i]);
    const wchar_t ub = UpperCodeUnit(b[i]);
    if (ua != ub) return ua < ub ? -1 : 1;
  }
  return 0;
}

namespace {
// Midpoint recursion keeps every subtree within one node of its sibling, so
// all empty links sit on the last two levels; colouring the deepest level red
// then gives every path the same number of black nodes.
uint32_t Link(const std::vector<uint32_t>& ids, size_t lo, size_t hi, unsigned depth, unsigned deepest,
              std::vector<DirectoryEntry>* entries) {
  if (lo >= hi) return kNoStream;
  const size_t mid = lo + (hi - lo) / 2;
  DirectoryEntry& node = (*entries)[ids[mid]];
  node.color = (depth == deepest && depth > 0) ? Color::Red : Color::Black;
  const uint32_t left = Link(ids, lo, mid, depth + 1, deepest, entries);
  const uint32_t right = Link(ids, mid + 1, hi, depth + 1, deepest, entries);
  node.left = left;
  node.right = right;
  return ids[mid];
}

unsigned Depth(size_t count) {  // depth of the deepest node of a midpoint tree of count nodes
  unsigned depth = 0;
  while (count > 1) {
    count = count / 2;  // the larger half of count - 1 nodes
    ++depth;
  }
  return depth;
}
}  // namespace

uint32_t BuildSiblingTree(const std::vector<uint32_t>& sortedIds, std::vector<DirectoryEntry>* entries) {
  if (sortedIds.empty()) return kNoStream;
  return Link(sortedIds, 0, sortedIds.size(), 0, Depth(sortedIds.size()), entries);
}

FatLayout ComputeFatLayout(uint64_t dataSectors, uint32_t entriesPerSector) {
  const uint64_t perDifat = entriesPerSector - 1;  // the last slot links to the next DIFAT sector
  uint64_t fat = (dataSectors + entriesPerSector - 1) / entriesPerSector;
  for (;;) {
    const uint64_t beyondHeader = fat > kHeaderDifatEntries ? fat - kHeaderDifatEntries : 0;
    const uint64_t difat = (beyondHeader + perDifat - 1) / perDifat;
    if (fat * entriesPerSector >= dataSectors + fat + difat) {
      FatLayout layout;
      layout.fatSectors = static_cast<uint32_t>(fat);
      layout.difatSectors = static_cast<uint32_t>(difat);
      return layout;
    }
    ++fat;
  }
}

}  // namespace cfb
}  // namespace msgfile
