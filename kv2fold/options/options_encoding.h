// Settled destination settings for the host: one encoded block (the block
// layout, which the host stores as bytes and passes back later) or a decoded
// pointer-layout record; and reading a host's record back into settings.
#pragma once

#include <windows.h>

#include "options/destination_settings.h"
#include "options/options_record.h"

// The build's block header: 18 bytes in the 32-bit build, 30 in the 64-bit
// build (pointer-sized offset fields). The strings follow it.
constexpr size_t kOptionsHeaderSize = sizeof(KVEDestinationOptions);

// Packs profile name, password (if any) and folder path (if any) into one
// block held in owner (its earlier block freed) until the next encoding.
// Returns 0; 5 for a null outBlock, settings without a profile name, or
// strings too long for the 16-bit blockSize (outs null and 0); 2 when memory
// runs out. outSize may be null.
int EncodeDestinationOptions(const DestinationSettings& settings, ModuleBlock<KVEDestinationOptions>& owner,
                             KVEDestinationOptions** outBlock, WORD* outSize);

// A new pointer-layout record with copies of the settings' strings, freed by
// KVEFreeDestinationOptionsW. Returns 0; 5 for a null outRecord; 2 when
// memory runs out (nothing is left allocated).
int DecodeDestinationOptions(const DestinationSettings& settings, KVEDestinationOptions** outRecord);

// A block read back into settings: present strings replace the profile
// name and password, absent ones leave them; the posting kind is always
// taken; the folder path is replaced, or cleared when the block has none.
// Returns 0, or 2 when a copy cannot be made.
int ApplyOptionsBlock(DestinationSettings& settings, const DestinationOptionsCopy<wchar_t>& options) noexcept;

// A pointer-layout record read into settings: all three strings are copied,
// absent ones leave their field null, and the posting kind is taken.
// Returns 0, or 2 when a copy cannot be made.
int ApplyOptionsRecord(DestinationSettings& settings, const DestinationOptionsCopy<wchar_t>& options) noexcept;
