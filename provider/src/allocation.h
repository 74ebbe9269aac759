// MAPI memory accounting, read by the diagnostics.
#pragma once

namespace provider {

// Buffers from MAPIAllocateBuffer not yet freed.
long LiveBufferCount();
// Blocks from MAPIAllocateMore whose root is not yet freed.
long LiveLinkedBlockCount();

}  // namespace provider
