// The on-disk layout of a compound file: header, directory entries, sector
// chains, and the rules both the writer and the reader obey.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace msgfile {
namespace cfb {

// Sector numbers that mark instead of point.
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFAu;
constexpr uint32_t kDifatSector = 0xFFFFFFFCu;
constexpr uint32_t kFatSector = 0xFFFFFFFDu;
constexpr uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr uint32_t kFreeSector = 0xFFFFFFFFu;
constexpr uint32_t kNoStream = 0xFFFFFFFFu;

constexpr uint32_t kMiniStreamCutoff = 4096;  // streams below this live in the mini stream
constexpr uint32_t kMiniSectorShift = 6;
constexpr uint32_t kMiniSectorSize = 1u << kMiniSectorShift;
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint32_t kHeaderBytes = 512;  // the header proper; a 4096-byte sector pads it with zeros
constexpr uint32_t kDirectoryEntryBytes = 128;
constexpr uint32_t kMaxNameChars = 31;  // plus the terminator: 64 bytes
constexpr uint16_t kMinorVersion = 0x003E;
constexpr uint16_t kByteOrderMark = 0xFFFE;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

enum class ObjectType : uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };
enum class Color : uint8_t { Red = 0, Black = 1 };

// Sector size and what follows from it, for major version 3 (512-byte
// sectors) or 4 (4096-byte sectors).
struct Geometry {
  uint16_t majorVersion = 3;
  uint16_t sectorShift = 9;
  uint32_t sectorSize = 512;
  uint32_t entriesPerSector = 128;  // 32-bit FAT / mini FAT / DIFAT entries in one sector

  // File offset of a regular sector: the header occupies the first sector-sized slot.
  uint64_t Offset(uint32_t sector) const { return (static_cast<uint64_t>(sector) + 1) << sectorShift; }
};
// False for a version other than 3 or 4.
bool GeometryForVersion(unsigned majorVersion, Geometry* out);

// Little-endian fields.
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) {
  return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}

struct Header {
  Geometry geometry;
  uint32_t directorySectorCount = 0;  // written as 0 for version 3
  uint32_t fatSectorCount = 0;
  uint32_t firstDirectorySector = kEndOfChain;
  uint32_t firstMiniFatSector = kEndOfChain;
  uint32_t miniFatSectorCount = 0;
  uint32_t firstDifatSector = kEndOfChain;
  uint32_t difatSectorCount = 0;
  uint32_t difat[kHeaderDifatEntries];  // unused slots hold kFreeSector

  Header();
};
void EncodeHeader(const Header& header, uint8_t out[kHeaderBytes]);
// S_OK, or STG_E_INVALIDHEADER / STG_E_OLDFORMAT for what a reader must refuse.
HRESULT DecodeHeader(const uint8_t in[kHeaderBytes], Header* out);

struct DirectoryEntry {
  std::wstring name;
  ObjectType type = ObjectType::Unused;
  Color color = Color::Black;
  uint32_t left = kNoStream;
  uint32_t right = kNoStream;
  uint32_t child = kNoStream;
  CLSID clsid = {};
  uint32_t stateBits = 0;
  uint64_t created = 0;   // FILETIME as 64 bits
  uint64_t modified = 0;
  uint32_t startSector = kEndOfChain;
  uint64_t size = 0;
};
// An Unused entry encodes as the free-slot pattern (zeros, no siblings, no child).
void EncodeDirectoryEntry(const DirectoryEntry& entry, uint8_t out[kDirectoryEntryBytes]);
// majorVersion 3 ignores the high half of the size, as the format asks of readers.
HRESULT DecodeDirectoryEntry(const uint8_t in[kDirectoryEntryBytes], unsigned majorVersion, DirectoryEntry* out);

// Checks a name for the directory: 1..31 characters, none of / \ : !
bool IsValidName(const wchar_t* name);
// The order siblings are kept in: shorter names first, then code unit by code
// unit after upper-casing. <0, 0, >0; 0 means the names collide.
int CompareNames(const std::wstring& a, const std::wstring& b);

// Links the entries named by sortedIds (already in CompareNames order) into a
// balanced binary tree that is also a valid red-black tree; sets left, right
// and color of each and returns the root's id (kNoStream when empty).
uint32_t BuildSiblingTree(const std::vector<uint32_t>& sortedIds, std::vector<DirectoryEntry>* entries);

// How many FAT and DIFAT sectors a file of dataSectors other sectors needs:
// the FAT must also describe its own sectors and the DIFAT's.
struct FatLayout {
  uint32_t fatSectors = 0;
  uint32_t difatSectors = 0;
};
FatLayout ComputeFatLayout(uint64_t dataSectors, uint32_t entriesPerSector);

}  // namespace cfb
}  // namespace msgfile
