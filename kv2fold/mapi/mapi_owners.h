// Owners for what MAPI hands out: interface references (Release) and MAPI
// buffers (MAPIFreeBuffer through the bound function table), so every path
// out of a MAPI call releases what it received.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <kvcommon/unique_resource.h>

#include "mapi/mapi_binding.h"

template <typename Interface>
using MAPIInterface = kvcommon::UniqueInterface<Interface>;

// Owner of one MAPIAllocateBuffer block (its MAPIAllocateMore children go
// with it).
struct MAPIBufferFree {
  void operator()(void* buffer) const noexcept { g_MAPIFunctions.MAPIFreeBuffer(buffer); }
};
template <typename T>
using MAPIBuffer = kvcommon::UniquePointer<T, MAPIBufferFree>;

// Owner of a row set from IMAPITable::QueryRows: each row's property array is
// a buffer of its own, then the set itself. Freed a batch at a time.
struct MAPIRowSetFree {
  void operator()(SRowSet* rows) const noexcept {
    for (ULONG i = 0; i < rows->cRows; ++i) {
      if (rows->aRow[i].lpProps) g_MAPIFunctions.MAPIFreeBuffer(rows->aRow[i].lpProps);
    }
    g_MAPIFunctions.MAPIFreeBuffer(rows);
  }
};
using MAPIRowSet = kvcommon::UniquePointer<SRowSet, MAPIRowSetFree>;
