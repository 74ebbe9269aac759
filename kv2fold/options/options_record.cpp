#include "options/options_record.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr size_t kNativeHeaderSize = sizeof(KVEDestinationOptions);
constexpr size_t kBlock32HeaderSize = sizeof(KVEDestinationOptionsBlock32);
constexpr size_t kLargestBlock = 0xFFFF;  // blockSize is 16 bits

// Host memory is probed with VirtualQuery, never read on trust: every page
// of the range must be committed and readable (and writable if asked).
bool IsAccessible(const void* address, size_t size, bool writable) noexcept {
  const uintptr_t start = reinterpret_cast<uintptr_t>(address);
  const uintptr_t end = start + size;
  if (end < start) return false;
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  for (uintptr_t cursor = start; cursor < end;) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<LPCVOID>(cursor), &info, sizeof(info)) == 0) return false;
    if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
    if ((info.Protect & (writable ? kWritable : kReadable)) == 0) return false;
    cursor = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

// The header fields the rule needs, whichever layout they came from.
struct HeaderFields {
  size_t headerSize = 0;
  uintptr_t strings[3] = {};  // profile name, password, folder path
  uint16_t postingKind = 0;
  uint16_t blockSize = 0;
};

template <typename Record>
void TakeFields(const Record& record, size_t headerSize, HeaderFields& fields) noexcept {
  fields.headerSize = headerSize;
  fields.postingKind = record.postingKind;
  fields.blockSize = record.blockSize;
}

// Reads and classifies the header; false for an invalid record.
template <typename Char>
bool ReadHeader(const KVEDestinationOptionsT<Char>* record, HeaderFields& fields) noexcept {
  if (!record || !IsAccessible(record, sizeof(uint16_t), true)) return false;
  uint16_t structSize = 0;
  std::memcpy(&structSize, record, sizeof(structSize));
  if (structSize >= kNativeHeaderSize) {
    if (!IsAccessible(record, kNativeHeaderSize, false)) return false;
    KVEDestinationOptionsT<Char> native;
    std::memcpy(&native, record, sizeof(native));
    TakeFields(native, kNativeHeaderSize, fields);
    fields.strings[0] = native.profileName.offset;
    fields.strings[1] = native.password.offset;
    fields.strings[2] = native.folderPath.offset;
    return true;
  }
#if defined(_WIN64)
  if (structSize >= kBlock32HeaderSize) {
    if (!IsAccessible(record, kBlock32HeaderSize, false)) return false;
    KVEDestinationOptionsBlock32 block32;
    std::memcpy(&block32, record, sizeof(block32));
    // Only a block can come from a 32-bit host: its pointers mean nothing here.
    if (block32.blockSize == 0) return false;
    TakeFields(block32, kBlock32HeaderSize, fields);
    fields.strings[0] = block32.profileName;
    fields.strings[1] = block32.password;
    fields.strings[2] = block32.folderPath;
    return true;
  }
#endif
  // Too short to hold the fields it would be read for.
  return false;
}

template <typename Char>
bool IsTerminatedWithin(const unsigned char* block, size_t offset, size_t blockSize) noexcept {
  for (size_t at = offset; at + sizeof(Char) <= blockSize; at += sizeof(Char)) {
    Char unit;
    std::memcpy(&unit, block + at, sizeof(unit));
    if (unit == 0) return true;
  }
  return false;
}

template <typename Char>
int ReadOptions(const KVEDestinationOptionsT<Char>* record, DestinationOptionsCopy<Char>& copy) noexcept {
  copy = DestinationOptionsCopy<Char>();
  HeaderFields fields;
  if (!ReadHeader(record, fields)) return KVE_BAD_ARGUMENT;
  copy.postingKind = fields.postingKind;
  const Char** targets[3] = {&copy.profileName, &copy.password, &copy.folderPath};

  if (fields.blockSize == 0) {
    for (int i = 0; i < 3; ++i) *targets[i] = reinterpret_cast<const Char*>(fields.strings[i]);
    return KVE_OK;
  }

  const size_t blockSize = fields.blockSize;
  if (blockSize < fields.headerSize || !IsAccessible(record, blockSize, false)) return KVE_BAD_ARGUMENT;
  for (uintptr_t offset : fields.strings) {
    if (offset == 0) continue;
    if (offset < fields.headerSize || offset >= blockSize || offset % sizeof(Char) != 0) return KVE_BAD_ARGUMENT;
  }
  copy.block.reset(static_cast<unsigned char*>(ModuleAlloc(blockSize)));
  if (!copy.block) return KVE_NO_MEMORY;
  std::memcpy(copy.block.get(), record, blockSize);
  copy.blockLayout = true;
  // Terminators are checked in the copy, which the host can no longer change.
  for (int i = 0; i < 3; ++i) {
    const uintptr_t offset = fields.strings[i];
    if (offset == 0) continue;
    if (!IsTerminatedWithin<Char>(copy.block.get(), offset, blockSize)) {
      copy = DestinationOptionsCopy<Char>();
      return KVE_BAD_ARGUMENT;
    }
    *targets[i] = reinterpret_cast<const Char*>(copy.block.get() + offset);
  }
  return KVE_OK;
}

// Character conversion in the system ANSI code page, no flags, no default
// character. Each returns the units written (or needed, for a null target).
int ConvertText(const char* source, int count, wchar_t* target, int capacity) noexcept {
  return MultiByteToWideChar(CP_ACP, 0, source, count, target, capacity);
}
int ConvertText(const wchar_t* source, int count, char* target, int capacity) noexcept {
  return WideCharToMultiByte(CP_ACP, 0, source, count, target, capacity, nullptr, nullptr);
}

template <typename Char>
size_t UnitsWithTerminator(const Char* text) noexcept {
  if (!text) return 0;
  size_t count = 0;
  while (text[count] != 0) ++count;
  return count + 1;
}

// One string of a record on its way into the other form.
template <typename To>
struct StringPlan {
  size_t sourceUnits = 0;    // including the terminator; 0: absent
  size_t targetUnits = 0;    // the converted text's real size, terminator included
  size_t reservedUnits = 0;  // two bytes per source character, or more if needed
};

template <typename From, typename To>
bool PlanString(const From* text, StringPlan<To>& plan) noexcept {
  plan.sourceUnits = UnitsWithTerminator(text);
  if (plan.sourceUnits == 0) return true;
  if (plan.sourceUnits > static_cast<size_t>(INT_MAX / 2)) return false;
  int needed = ConvertText(text, static_cast<int>(plan.sourceUnits), static_cast<To*>(nullptr), 0);
  if (needed <= 0) return false;
  plan.targetUnits = static_cast<size_t>(needed);
  const size_t reservedBytes = 2 * plan.sourceUnits;
  plan.reservedUnits = std::max(reservedBytes / sizeof(To), plan.targetUnits);
  return true;
}

template <typename From, typename To>
bool ConvertInto(const From* text, const StringPlan<To>& plan, To* target) noexcept {
  return ConvertText(text, static_cast<int>(plan.sourceUnits), target, static_cast<int>(plan.targetUnits)) ==
         static_cast<int>(plan.targetUnits);
}

template <typename Char>
void SetStringField(KVEStringFieldT<Char>& field, const Char* pointer) noexcept {
  field.pointer = pointer;
}
template <typename Char>
void SetOffsetField(KVEStringFieldT<Char>& field, uintptr_t offset) noexcept {
  field.offset = offset;
}

template <typename Char>
void FreeOptions(KVEDestinationOptionsT<Char>* record) noexcept {
  if (!record) return;
  if (record->blockSize == 0) {
    ModuleFree(const_cast<Char*>(record->profileName.pointer));
    ModuleFree(const_cast<Char*>(record->password.pointer));
    ModuleFree(const_cast<Char*>(record->folderPath.pointer));
  }
  ModuleFree(record);
}

template <typename From, typename To>
int BuildPointerRecord(const DestinationOptionsCopy<From>& copy, const StringPlan<To> (&plans)[3],
                       KVEDestinationOptionsT<To>** outRecord, WORD* outSize) noexcept {
  using Record = KVEDestinationOptionsT<To>;
  if (outSize) *outSize = 0;
  ModuleBlock<To> strings[3];
  const From* sources[3] = {copy.profileName, copy.password, copy.folderPath};
  for (int i = 0; i < 3; ++i) {
    if (plans[i].sourceUnits == 0) continue;
    strings[i].reset(static_cast<To*>(ModuleAlloc(plans[i].reservedUnits * sizeof(To))));
    if (!strings[i]) return KVE_NO_MEMORY;
    if (!ConvertInto(sources[i], plans[i], strings[i].get())) return KVE_BAD_ARGUMENT;
  }
  ModuleBlock<Record> record(static_cast<Record*>(ModuleAlloc(sizeof(Record))));
  if (!record) return KVE_NO_MEMORY;
  record.get()->structSize = static_cast<uint16_t>(sizeof(Record));
  record.get()->postingKind = copy.postingKind;
  record.get()->blockSize = 0;
  SetStringField(record.get()->profileName, static_cast<const To*>(strings[0].release()));
  SetStringField(record.get()->password, static_cast<const To*>(strings[1].release()));
  SetStringField(record.get()->folderPath, static_cast<const To*>(strings[2].release()));
  *outRecord = record.release();
  return KVE_OK;
}

template <typename From, typename To>
int BuildBlock(const DestinationOptionsCopy<From>& copy, const StringPlan<To> (&plans)[3],
               KVEDestinationOptionsT<To>** outRecord, WORD* outSize) noexcept {
  using Record = KVEDestinationOptionsT<To>;
  // Wide strings sit at two bytes per source character, which keeps the
  // documented offsets; narrow strings follow each other by their real byte
  // length. The block reserves two bytes per character in either case, and
  // more only when a code page needs more (UTF-8).
  size_t reservedBytes = 0;
  size_t usedBytes = 0;
  size_t slotBytes[3] = {};
  for (int i = 0; i < 3; ++i) {
    reservedBytes += 2 * plans[i].sourceUnits;
    slotBytes[i] = sizeof(To) == sizeof(wchar_t) ? 2 * plans[i].sourceUnits : plans[i].targetUnits * sizeof(To);
    usedBytes += slotBytes[i];
  }
  const size_t total = kNativeHeaderSize + std::max(reservedBytes, usedBytes);
  if (total > kLargestBlock) return KVE_BAD_ARGUMENT;
  ModuleBlock<unsigned char> block(static_cast<unsigned char*>(ModuleAlloc(total)));  // zero-filled
  if (!block) return KVE_NO_MEMORY;
  auto* record = reinterpret_cast<Record*>(block.get());
  record->structSize = static_cast<uint16_t>(sizeof(Record));
  record->postingKind = copy.postingKind;
  record->blockSize = static_cast<uint16_t>(total);
  KVEStringFieldT<To>* fields[3] = {&record->profileName, &record->password, &record->folderPath};
  const From* sources[3] = {copy.profileName, copy.password, copy.folderPath};
  size_t offset = kNativeHeaderSize;
  for (int i = 0; i < 3; ++i) {
    if (plans[i].sourceUnits == 0) {
      SetOffsetField(*fields[i], 0);
      continue;
    }
    if (!ConvertInto(sources[i], plans[i], reinterpret_cast<To*>(block.get() + offset))) return KVE_BAD_ARGUMENT;
    SetOffsetField(*fields[i], offset);
    offset += slotBytes[i];
  }
  if (outSize) *outSize = static_cast<WORD>(total);
  *outRecord = reinterpret_cast<Record*>(block.release());
  return KVE_OK;
}

template <typename From, typename To>
int Convert(const KVEDestinationOptionsT<From>* record, KVEDestinationOptionsT<To>** outRecord,
            WORD* outSize) noexcept {
  if (!outRecord) return KVE_BAD_ARGUMENT;
  *outRecord = nullptr;
  if (!record) return KVE_OK;
  DestinationOptionsCopy<From> copy;
  int result = ReadOptions(record, copy);
  if (result != KVE_OK) return result;
  StringPlan<To> plans[3];
  const From* sources[3] = {copy.profileName, copy.password, copy.folderPath};
  for (int i = 0; i < 3; ++i) {
    if (!PlanString(sources[i], plans[i])) return KVE_BAD_ARGUMENT;
  }
  return copy.blockLayout ? BuildBlock(copy, plans, outRecord, outSize)
                          : BuildPointerRecord(copy, plans, outRecord, outSize);
}

}  // namespace

int ReadDestinationOptions(const KVEDestinationOptions* record, DestinationOptionsCopy<wchar_t>& copy) noexcept {
  return ReadOptions(record, copy);
}

int ReadDestinationOptions(const KVEDestinationOptionsA* record, DestinationOptionsCopy<char>& copy) noexcept {
  return ReadOptions(record, copy);
}

int ConvertDestinationOptions(const KVEDestinationOptionsA* record, KVEDestinationOptions** outRecord,
                              WORD* outSize) {
  return Convert(record, outRecord, outSize);
}

int ConvertDestinationOptions(const KVEDestinationOptions* record, KVEDestinationOptionsA** outRecord,
                              WORD* outSize) {
  return Convert(record, outRecord, outSize);
}

void FreeDestinationOptions(KVEDestinationOptions* record) noexcept { FreeOptions(record); }
void FreeDestinationOptions(KVEDestinationOptionsA* record) noexcept { FreeOptions(record); }
