// The destination options record: the one reading rule for records a host
// passes in, the narrow/wide conversions and the free operations.
#pragma once

#include "interface/kve_api.h"
#include "platform/wide_text.h"

#include <cstdint>

// A host's options record after the reading rule. The module reads this
// instead of the host's bytes; it stays valid after the host's record is gone
// except for pointer-layout strings, which are the host's own.
template <typename Char>
struct DestinationOptionsCopy {
  bool blockLayout = false;  // strings point into `block`
  uint16_t postingKind = 0;
  const Char* profileName = nullptr;  // null: absent
  const Char* password = nullptr;
  const Char* folderPath = nullptr;
  ModuleBlock<unsigned char> block;  // copy of exactly blockSize bytes (block layout)
};

// The reading rule. The first two bytes must be readable and writable and the
// record must be one of:
//  - the build's own layout (structSize at least sizeof(KVEDestinationOptions),
//    of which only that many bytes are read), pointer layout when blockSize is
//    0, else a block of blockSize bytes;
//  - in the 64-bit build, a block written by a 32-bit host: structSize 18 to 29
//    and a non-zero 16-bit blockSize at byte 16 (KVEDestinationOptionsBlock32).
// A block must hold its header, be readable in full, have every non-zero
// offset inside it and behind the header (even for wide text), and every
// string terminated inside it. Nothing outside the header or the block is
// read. Returns KVE_OK, KVE_BAD_ARGUMENT for an inaccessible or invalid record
// (a null record included), or KVE_NO_MEMORY.
int ReadDestinationOptions(const KVEDestinationOptions* record, DestinationOptionsCopy<wchar_t>& copy) noexcept;
int ReadDestinationOptions(const KVEDestinationOptionsA* record, DestinationOptionsCopy<char>& copy) noexcept;

// Conversions into the other character form, in the input's layout and the
// build's native record size. *outSize (optional) receives 0 for the pointer
// layout and blockSize for a block. Results: KVE_OK (a null record gives a
// null *outRecord), KVE_BAD_ARGUMENT (invalid record, null outRecord, or a
// block whose converted form would pass 65,535 bytes), KVE_NO_MEMORY.
int ConvertDestinationOptions(const KVEDestinationOptionsA* record, KVEDestinationOptions** outRecord,
                              WORD* outSize);
int ConvertDestinationOptions(const KVEDestinationOptions* record, KVEDestinationOptionsA** outRecord,
                              WORD* outSize);

// Releases a record that the module made: one block when blockSize is not 0,
// else the three strings and the record. Null is allowed.
void FreeDestinationOptions(KVEDestinationOptions* record) noexcept;
void FreeDestinationOptions(KVEDestinationOptionsA* record) noexcept;
