// A job's settled options for the host: one encoded block (the block layout,
// which the host stores as bytes and passes back later) or a decoded
// pointer-layout record; and reading a host's record back into a job.
#pragma once

#include <windows.h>

#include "interface/export_job.h"
#include "options/options_record.h"

// The build's block header: 18 bytes in the 32-bit build, 30 in the 64-bit
// build (pointer-sized offset fields). The strings follow it.
constexpr size_t kOptionsHeaderSize = sizeof(KVEDestinationOptions);

// Packs profile name, password (if any) and folder path (if any) into one
// block that the job owns until it encodes again or is destroyed. Returns 0;
// 5 for a null outBlock, a job without a profile name, or strings too long
// for the 16-bit blockSize (outs null and 0); 2 when memory runs out.
// outSize may be null.
int EncodeDestinationOptions(ExportJob& job, KVEDestinationOptions** outBlock, WORD* outSize) noexcept;

// A new pointer-layout record with copies of the job's strings, freed by
// KVEFreeDestinationOptionsW. Returns 0; 5 for a null outRecord; 2 when
// memory runs out (nothing is left allocated).
int DecodeDestinationOptions(const ExportJob& job, KVEDestinationOptions** outRecord) noexcept;

// A block read back into a job: present strings replace the job's profile
// name and password, absent ones leave them; the posting kind is always
// taken; the folder path is replaced, or cleared when the block has none.
// Returns 0, or 2 when a copy cannot be made.
int ApplyOptionsBlock(ExportJob& job, const DestinationOptionsCopy<wchar_t>& options) noexcept;

// A pointer-layout record read into a job: all three strings are copied,
// absent ones leave their field null, and the posting kind is taken.
// Returns 0, or 2 when a copy cannot be made.
int ApplyOptionsRecord(ExportJob& job, const DestinationOptionsCopy<wchar_t>& options) noexcept;
