#include "options/options_encoding.h"

#include <cstring>
#include <cwchar>
#include <utility>

namespace {

constexpr size_t kLargestBlock = 0xFFFF;  // blockSize is 16 bits

size_t CharactersWithTerminator(const wchar_t* text) noexcept { return text ? wcslen(text) + 1 : 0; }

// Replaces slot with a copy of text; false when the copy cannot be made.
bool ReplaceWithCopy(ModuleBlock<wchar_t>& slot, const wchar_t* text) noexcept {
  ModuleBlock<wchar_t> copy(ModuleDupWide(text));
  if (!copy) return false;
  slot = std::move(copy);
  return true;
}

}  // namespace

int EncodeDestinationOptions(const DestinationSettings& settings, ModuleBlock<KVEDestinationOptions>& owner,
                             KVEDestinationOptions** outBlock, WORD* outSize) {
  if (!outBlock) return KVE_BAD_ARGUMENT;
  *outBlock = nullptr;
  if (outSize) *outSize = 0;
  const wchar_t* strings[3] = {settings.profileName.get(), settings.password.get(), settings.folderPath.get()};
  size_t characters[3];
  size_t total = kOptionsHeaderSize;
  for (int i = 0; i < 3; ++i) {
    characters[i] = CharactersWithTerminator(strings[i]);
    total += 2 * characters[i];
  }
  // A block without a profile name could never set up a job, and one whose
  // size does not fit blockSize could not be read back: neither is made.
  if (characters[0] == 0 || total > kLargestBlock) return KVE_BAD_ARGUMENT;
  if (outSize) *outSize = static_cast<WORD>(total);

  owner.reset();
  ModuleBlock<unsigned char> block(static_cast<unsigned char*>(ModuleAlloc(total)));  // zero-filled
  if (!block) return KVE_NO_MEMORY;
  auto* header = reinterpret_cast<KVEDestinationOptions*>(block.get());
  header->structSize = static_cast<uint16_t>(kOptionsHeaderSize);
  header->postingKind = settings.postingKind;
  header->blockSize = static_cast<uint16_t>(total);
  KVEStringFieldT<wchar_t>* fields[3] = {&header->profileName, &header->password, &header->folderPath};
  size_t offset = kOptionsHeaderSize;
  for (int i = 0; i < 3; ++i) {
    fields[i]->offset = 0;
    if (characters[i] == 0) continue;
    std::memcpy(block.get() + offset, strings[i], characters[i] * sizeof(wchar_t));
    fields[i]->offset = offset;
    offset += characters[i] * sizeof(wchar_t);
  }
  owner.reset(reinterpret_cast<KVEDestinationOptions*>(block.release()));
  *outBlock = owner.get();
  return KVE_OK;
}

int DecodeDestinationOptions(const DestinationSettings& settings, KVEDestinationOptions** outRecord) {
  if (!outRecord) return KVE_BAD_ARGUMENT;
  *outRecord = nullptr;
  ModuleBlock<KVEDestinationOptions> record(
      static_cast<KVEDestinationOptions*>(ModuleAlloc(sizeof(KVEDestinationOptions))));  // zero-filled
  if (!record) return KVE_NO_MEMORY;
  const wchar_t* strings[3] = {settings.profileName.get(), settings.password.get(), settings.folderPath.get()};
  ModuleBlock<wchar_t> copies[3];
  for (int i = 0; i < 3; ++i) {
    if (!strings[i]) continue;
    copies[i].reset(ModuleDupWide(strings[i]));
    if (!copies[i]) return KVE_NO_MEMORY;
  }
  KVEDestinationOptions* fields = record.get();
  fields->structSize = static_cast<uint16_t>(sizeof(KVEDestinationOptions));
  fields->postingKind = settings.postingKind;
  fields->blockSize = 0;
  fields->profileName.pointer = copies[0].release();
  fields->password.pointer = copies[1].release();
  fields->folderPath.pointer = copies[2].release();
  *outRecord = record.release();
  return KVE_OK;
}

int ApplyOptionsBlock(DestinationSettings& settings, const DestinationOptionsCopy<wchar_t>& options) noexcept {
  if (options.profileName && !ReplaceWithCopy(settings.profileName, options.profileName)) return KVE_NO_MEMORY;
  if (options.password && !ReplaceWithCopy(settings.password, options.password)) return KVE_NO_MEMORY;
  settings.postingKind = options.postingKind;
  if (!options.folderPath) {
    settings.folderPath.reset();
  } else if (!ReplaceWithCopy(settings.folderPath, options.folderPath)) {
    return KVE_NO_MEMORY;
  }
  return KVE_OK;
}

int ApplyOptionsRecord(DestinationSettings& settings, const DestinationOptionsCopy<wchar_t>& options) noexcept {
  const wchar_t* strings[3] = {options.profileName, options.password, options.folderPath};
  ModuleBlock<wchar_t>* slots[3] = {&settings.profileName, &settings.password, &settings.folderPath};
  for (int i = 0; i < 3; ++i) {
    slots[i]->reset();
    if (strings[i] && !ReplaceWithCopy(*slots[i], strings[i])) return KVE_NO_MEMORY;
  }
  settings.postingKind = options.postingKind;
  return KVE_OK;
}
