// Owners of what MAPI32's flat functions hand out, for code linked against
// MAPI32 itself (the provider, its tools, tests and benchmarks). The module
// calls MAPI through its bound function table and has owners of its own.
#pragma once

#include <windows.h>

#include <mapix.h>
#include <mapiutil.h>

#include <kvcommon/unique_resource.h>

namespace kvcommon {

struct MapiBufferFree {
  void operator()(void* p) const noexcept { MAPIFreeBuffer(p); }
};
template <typename T>
using UniqueMapiBuffer = UniquePointer<T, MapiBufferFree>;

struct RowSetFree {
  void operator()(SRowSet* rows) const noexcept { FreeProws(rows); }
};
using UniqueRowSet = UniquePointer<SRowSet, RowSetFree>;

}  // namespace kvcommon
