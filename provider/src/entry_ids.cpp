#include "entry_ids.h"

#include <cstring>

namespace provider {

// {6B9C3A52-1E4F-4D8A-9B27-4B5632464F4C}, fixed for this provider.
const MAPIUID kProviderUid = {{0x52, 0x3A, 0x9C, 0x6B, 0x4F, 0x1E, 0x8A, 0x4D, 0x9B, 0x27, 0x4B, 0x56, 0x32, 0x46, 0x4F, 0x4C}};

std::vector<uint8_t> EncodeEntryId(const EntryId& id) {
  std::vector<uint8_t> bytes(kEntryIdSize, 0);
  memcpy(&bytes[4], kProviderUid.ab, 16);
  bytes[20] = static_cast<uint8_t>(id.kind);
  memcpy(&bytes[24], id.store.data(), 16);
  memcpy(&bytes[40], id.folder.data(), 16);
  memcpy(&bytes[56], id.object.data(), 16);
  return bytes;
}

bool DecodeEntryId(ULONG size, const ENTRYID* entry, EntryId& out) {
  if (!entry || size != kEntryIdSize) return false;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(entry);
  if (memcmp(&bytes[4], kProviderUid.ab, 16) != 0) return false;
  if (bytes[20] < 1 || bytes[20] > 4 || bytes[21] || bytes[22] || bytes[23]) return false;
  out.kind = static_cast<EntryKind>(bytes[20]);
  memcpy(out.store.data(), &bytes[24], 16);
  memcpy(out.folder.data(), &bytes[40], 16);
  memcpy(out.object.data(), &bytes[56], 16);
  return true;
}

}  // namespace provider
