// The narrow layer's conversions: strings in a given code page, the host's
// narrow records into wide copies, the module's wide records into narrow
// copies. Copies live on the module heap; each kind has an owner that frees
// it with everything it points to.
#pragma once

#include <windows.h>

#include "interface/kve_api.h"
#include "platform/wide_text.h"

// A copy of text in the other width: a narrow string of n bytes becomes a
// buffer of n + 1 wide characters, a wide string of n characters a buffer of
// 3n + 1 bytes. Null for null text or when memory runs out.
ModuleBlock<wchar_t> WidenText(const char* text, UINT codePage) noexcept;
ModuleBlock<char> NarrowText(const wchar_t* text, UINT codePage) noexcept;

struct WideExportInfoFree {
  void operator()(KVEExportInfo* info) const noexcept;
};
struct WideExportRequestFree {
  void operator()(KVEExportRequest* request) const noexcept;
};
struct NarrowJobRecordFree {
  void operator()(KVEJobRecordA* record) const noexcept;
};
struct NarrowDestinationListFree {
  void operator()(KVEDestinationListA* list) const noexcept;
};
using WideExportInfoCopy = kvcommon::UniquePointer<KVEExportInfo, WideExportInfoFree>;
using WideExportRequestCopy = kvcommon::UniquePointer<KVEExportRequest, WideExportRequestFree>;
using NarrowJobRecordCopy = kvcommon::UniquePointer<KVEJobRecordA, NarrowJobRecordFree>;
using NarrowDestinationListCopy = kvcommon::UniquePointer<KVEDestinationListA, NarrowDestinationListFree>;

// Each conversion writes the build's own structSize and never reads the
// source's; a null source gives a null copy. Running out of memory for any
// record, array or string makes the conversion answer false and leave
// nothing: a file name that could not be copied must not be posted as none.
// The narrow job record alone is filled as far as it can be (see below).

// The host's export description with its file records.
bool WidenExportInfo(const KVEExportInfoA* info, UINT codePage, WideExportInfoCopy& copy) noexcept;
// The host's list of paths.
bool WidenExportRequest(const KVEExportRequestA* request, UINT codePage, WideExportRequestCopy& copy) noexcept;
// Fills a zeroed narrow record from the wide job record (the record itself is
// allocated up front, so that nothing can fail once the wide job exists).
void FillNarrowJobRecord(const KVEJobRecord& from, UINT codePage, KVEJobRecordA& to) noexcept;
// Frees what a filled narrow job record points to and zeroes it.
void ClearNarrowJobRecord(KVEJobRecordA& record) noexcept;
// The destination list with its entries.
bool NarrowDestinationList(const KVEDestinationList* list, UINT codePage, NarrowDestinationListCopy& copy) noexcept;
