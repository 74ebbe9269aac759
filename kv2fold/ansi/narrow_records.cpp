#include "ansi/narrow_records.h"

#include <climits>
#include <cstring>
#include <initializer_list>

namespace {

template <typename Record>
Record* AllocateRecord() noexcept {
  return static_cast<Record*>(ModuleAlloc(sizeof(Record)));  // zero-filled
}

wchar_t* Converted(const char* text, UINT codePage) noexcept { return WidenText(text, codePage).release(); }
char* Converted(const wchar_t* text, UINT codePage) noexcept { return NarrowText(text, codePage).release(); }

// Copies are the module's own, even where the record types them const.
void FreeText(const void* text) noexcept { ModuleFree(const_cast<void*>(text)); }

template <typename Char>
void FreeStrings(Char* const* strings, uint16_t count) noexcept {
  if (!strings) return;
  for (uint16_t i = 0; i < count; ++i) FreeText(strings[i]);
  FreeText(strings);
}

// Whether a string that was there came through: a copy that could not be
// made must not pass on as a missing or empty name.
template <typename To, typename From>
bool CameThrough(const From* source, const To* copy) noexcept {
  return !source || copy;
}

// count converted strings; a null source gives null, a count of 0 an empty
// array. Null when memory runs out for the array or any string in it.
template <typename To, typename From>
To** ConvertStrings(const From* const* source, uint16_t count, UINT codePage) noexcept {
  if (!source) return nullptr;
  auto** target = static_cast<To**>(ModuleAlloc(count * sizeof(To*)));
  for (uint16_t i = 0; target && i < count; ++i) {
    target[i] = Converted(source[i], codePage);
    if (!CameThrough(source[i], target[i])) {
      FreeStrings(target, count);
      return nullptr;
    }
  }
  return target;
}

void FreeWideFile(KVEExportFile* file) noexcept {
  if (!file) return;
  for (const wchar_t* text : {file->fileName, file->hostString1, file->hostString2, file->hostString3,
                              file->hostString4, file->fileNamePattern, file->hostString5}) {
    FreeText(text);
  }
  ModuleFree(file);
}

KVEExportFile* WidenFile(const KVEExportFileA& from, UINT codePage) noexcept {
  auto* file = AllocateRecord<KVEExportFile>();
  if (!file) return nullptr;
  file->structSize = sizeof(KVEExportFile);
  file->useFileName = from.useFileName;
  file->fileName = Converted(from.fileName, codePage);
  file->hostString1 = Converted(from.hostString1, codePage);
  file->hostString2 = Converted(from.hostString2, codePage);
  file->hostString3 = Converted(from.hostString3, codePage);
  file->hostString4 = Converted(from.hostString4, codePage);
  file->fileNamePattern = Converted(from.fileNamePattern, codePage);
  file->hostString5 = Converted(from.hostString5, codePage);
  if (!CameThrough(from.fileName, file->fileName) || !CameThrough(from.hostString1, file->hostString1) ||
      !CameThrough(from.hostString2, file->hostString2) || !CameThrough(from.hostString3, file->hostString3) ||
      !CameThrough(from.hostString4, file->hostString4) ||
      !CameThrough(from.fileNamePattern, file->fileNamePattern) || !CameThrough(from.hostString5, file->hostString5)) {
    FreeWideFile(file);
    return nullptr;
  }
  return file;
}

void FreeNarrowEntry(KVEDestinationEntryA* entry) noexcept {
  if (!entry) return;
  ModuleFree(entry->name);
  ModuleFree(entry->description);
  ModuleFree(entry);
}

}  // namespace

ModuleBlock<wchar_t> WidenText(const char* text, UINT codePage) noexcept {
  if (!text) return ModuleBlock<wchar_t>();
  const size_t length = std::strlen(text);
  if (length >= INT_MAX) return ModuleBlock<wchar_t>();
  ModuleBlock<wchar_t> wide(static_cast<wchar_t*>(ModuleAlloc((length + 1) * sizeof(wchar_t))));
  // The zero-filled buffer stays an empty string should the conversion fail.
  if (wide) MultiByteToWideChar(codePage, 0, text, -1, wide.get(), static_cast<int>(length + 1));
  return wide;
}

ModuleBlock<char> NarrowText(const wchar_t* text, UINT codePage) noexcept {
  if (!text) return ModuleBlock<char>();
  const size_t length = wcslen(text);
  if (length >= INT_MAX / 3) return ModuleBlock<char>();
  // Three bytes a character hold any code page's form, UTF-8 included.
  const size_t capacity = 3 * length + 1;
  ModuleBlock<char> narrow(static_cast<char*>(ModuleAlloc(capacity)));
  if (narrow) {
    WideCharToMultiByte(codePage, 0, text, -1, narrow.get(), static_cast<int>(capacity), nullptr, nullptr);
  }
  return narrow;
}

void WideExportInfoFree::operator()(KVEExportInfo* info) const noexcept {
  if (info->files) {
    for (uint16_t i = 0; i < info->fileCount; ++i) FreeWideFile(info->files[i]);
    ModuleFree(info->files);
  }
  for (const wchar_t* text : {info->hostString1, info->hostString2, info->hostString3}) FreeText(text);
  ModuleFree(info);
}

void WideExportRequestFree::operator()(KVEExportRequest* request) const noexcept {
  FreeStrings(request->paths, request->count);
  ModuleFree(request);
}

void NarrowJobRecordFree::operator()(KVEJobRecordA* record) const noexcept {
  ClearNarrowJobRecord(*record);
  ModuleFree(record);
}

void NarrowDestinationListFree::operator()(KVEDestinationListA* list) const noexcept {
  if (list->entries) {
    for (uint16_t i = 0; i < list->count; ++i) FreeNarrowEntry(list->entries[i]);
    ModuleFree(list->entries);
  }
  ModuleFree(list);
}

bool WidenExportInfo(const KVEExportInfoA* info, UINT codePage, WideExportInfoCopy& copy) noexcept {
  copy.reset();
  if (!info) return true;
  WideExportInfoCopy wide(AllocateRecord<KVEExportInfo>());
  if (!wide) return false;
  KVEExportInfo& to = *wide.get();
  // Both widths share one layout: the copy keeps the host's size, so the wide
  // side refuses a short record and reads no field the host did not give.
  to.structSize = info->structSize;
  const auto given = [info](size_t offset, size_t size) { return info->structSize >= offset + size; };
  if (!given(offsetof(KVEExportInfoA, files), sizeof(info->files))) {
    copy = std::move(wide);
    return true;
  }
  to.hostField1 = info->hostField1;
  to.hostField2 = info->hostField2;
  to.fileCount = info->fileCount;
  if (given(offsetof(KVEExportInfoA, hostField3), sizeof(info->hostField3))) to.hostField3 = info->hostField3;
  if (given(offsetof(KVEExportInfoA, language), sizeof(info->language))) to.language = info->language;
  if (given(offsetof(KVEExportInfoA, hostField4), sizeof(info->hostField4))) to.hostField4 = info->hostField4;
  const char* const KVEExportInfoA::*strings[] = {&KVEExportInfoA::hostString1, &KVEExportInfoA::hostString2,
                                                  &KVEExportInfoA::hostString3};
  const wchar_t* KVEExportInfo::*wideStrings[] = {&KVEExportInfo::hostString1, &KVEExportInfo::hostString2,
                                                  &KVEExportInfo::hostString3};
  const size_t stringOffsets[] = {offsetof(KVEExportInfoA, hostString1), offsetof(KVEExportInfoA, hostString2),
                                  offsetof(KVEExportInfoA, hostString3)};
  for (size_t i = 0; i < 3; ++i) {
    if (!given(stringOffsets[i], sizeof(const char*))) break;
    const char* source = info->*strings[i];
    to.*wideStrings[i] = Converted(source, codePage);
    if (!CameThrough(source, to.*wideStrings[i])) return false;
  }
  if (info->files) {
    // A null file stays null; the wide side posts it as "untitled.txt".
    to.files = static_cast<KVEExportFile**>(ModuleAlloc(info->fileCount * sizeof(KVEExportFile*)));
    if (!to.files) return false;
    for (uint16_t i = 0; i < info->fileCount; ++i) {
      if (!info->files[i]) continue;
      to.files[i] = WidenFile(*info->files[i], codePage);
      if (!to.files[i]) return false;
    }
  }
  copy = std::move(wide);
  return true;
}

bool WidenExportRequest(const KVEExportRequestA* request, UINT codePage, WideExportRequestCopy& copy) noexcept {
  copy.reset();
  if (!request) return true;
  WideExportRequestCopy wide(AllocateRecord<KVEExportRequest>());
  if (!wide) return false;
  KVEExportRequest& to = *wide.get();
  to.structSize = sizeof(KVEExportRequest);
  to.hostField1 = request->hostField1;
  to.hostField2 = request->hostField2;
  to.hostField3 = request->hostField3;
  to.hostField4 = request->hostField4;
  to.hostField5 = request->hostField5;
  to.hostField6 = request->hostField6;
  to.paths = ConvertStrings<const wchar_t>(request->paths, request->count, codePage);
  // The paths are the request itself: without them there is nothing to pass on.
  if (request->paths && !to.paths) return false;
  to.count = request->count;
  copy = std::move(wide);
  return true;
}

void FillNarrowJobRecord(const KVEJobRecord& from, UINT codePage, KVEJobRecordA& to) noexcept {
  to.structSize = sizeof(KVEJobRecordA);
  to.hostField1 = from.hostField1;
  to.hostField2 = from.hostField2;
  to.hostField3 = from.hostField3;
  to.hostField4 = from.hostField4;
  to.hostField5 = from.hostField5;
  to.hostField6 = from.hostField6;
  to.hostField7 = from.hostField7;
  to.hostField8 = from.hostField8;
  to.hostField9 = from.hostField9;
  to.hostField10 = from.hostField10;
  to.hostField11 = from.hostField11;
  to.strings = ConvertStrings<char>(from.strings, from.count, codePage);
  // An array that could not be made is an empty one, never a count over null.
  to.count = to.strings ? from.count : 0;
}

void ClearNarrowJobRecord(KVEJobRecordA& record) noexcept {
  FreeStrings(record.strings, record.count);
  record = KVEJobRecordA{};
}

bool NarrowDestinationList(const KVEDestinationList* list, UINT codePage, NarrowDestinationListCopy& copy) noexcept {
  copy.reset();
  if (!list) return true;
  NarrowDestinationListCopy narrow(AllocateRecord<KVEDestinationListA>());
  if (!narrow) return false;
  KVEDestinationListA& to = *narrow.get();
  to.structSize = sizeof(KVEDestinationListA);
  to.count = list->count;
  std::memcpy(to.identifier, list->identifier, sizeof to.identifier);
  if (list->entries && list->count > 0) {
    to.entries = static_cast<KVEDestinationEntryA**>(ModuleAlloc(list->count * sizeof(KVEDestinationEntryA*)));
    if (!to.entries) return false;
    for (uint16_t i = 0; i < list->count; ++i) {
      const KVEDestinationEntry* from = list->entries[i];
      if (!from) continue;
      KVEDestinationEntryA* entry = AllocateRecord<KVEDestinationEntryA>();
      if (!entry) return false;
      to.entries[i] = entry;
      entry->structSize = sizeof(KVEDestinationEntryA);
      entry->reserved = from->reserved;
      entry->name = Converted(from->name, codePage);
      entry->description = Converted(from->description, codePage);
      if (!CameThrough(from->name, entry->name) || !CameThrough(from->description, entry->description)) return false;
    }
  }
  copy = std::move(narrow);
  return true;
}
