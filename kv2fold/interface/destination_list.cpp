#include "interface/destination_list.h"

#include <cstring>
#include <new>

#include "interface/module_state.h"
#include "platform/module_resources.h"
#include "platform/wide_text.h"
#include "resources/resource_ids.h"

DestinationListCache g_DestinationListCache;

KVEDestinationList* CloneDestinationList(const KVEDestinationList& source) noexcept {
  auto* list = static_cast<KVEDestinationList*>(ModuleAlloc(sizeof(KVEDestinationList)));
  if (!list) return nullptr;
  list->structSize = source.structSize;
  list->count = source.count;
  std::memcpy(list->identifier, source.identifier, sizeof list->identifier);
  list->entries = nullptr;
  if (source.count == 0) return list;

  // Zero-filled, so a half-built list can be freed as it stands.
  list->entries = static_cast<KVEDestinationEntry**>(ModuleAlloc(source.count * sizeof(KVEDestinationEntry*)));
  bool complete = list->entries != nullptr;
  for (uint16_t i = 0; complete && i < source.count; ++i) {
    const KVEDestinationEntry* from = source.entries ? source.entries[i] : nullptr;
    if (!from) continue;
    auto* entry = static_cast<KVEDestinationEntry*>(ModuleAlloc(sizeof(KVEDestinationEntry)));
    list->entries[i] = entry;
    if (!entry) {
      complete = false;
      break;
    }
    entry->structSize = from->structSize;
    entry->reserved = from->reserved;
    entry->name = ModuleDupWide(from->name);
    entry->description = ModuleDupWide(from->description);
    if ((from->name && !entry->name) || (from->description && !entry->description)) complete = false;
  }
  if (!complete) {
    FreeDestinationList(list);
    return nullptr;
  }
  return list;
}

void FreeDestinationList(KVEDestinationList* list) noexcept {
  if (!list) return;
  if (list->entries) {
    for (uint16_t i = 0; i < list->count; ++i) {
      KVEDestinationEntry* entry = list->entries[i];
      if (!entry) continue;
      ModuleFree(entry->name);
      ModuleFree(entry->description);
      ModuleFree(entry);
    }
    ModuleFree(list->entries);
  }
  ModuleFree(list);
}

bool LocalizeFirstEntry(KVEDestinationList* list, DWORD language) noexcept {
  if (!list || list->count == 0 || !list->entries || !list->entries[0]) return true;
  KVEDestinationEntry* entry = list->entries[0];
  ModuleFree(entry->name);
  ModuleFree(entry->description);
  // Zero-filled: both start empty.
  entry->name = static_cast<wchar_t*>(ModuleAlloc(kLocalizedNameCapacity * sizeof(wchar_t)));
  entry->description = static_cast<wchar_t*>(ModuleAlloc(kLocalizedDescriptionCapacity * sizeof(wchar_t)));
  if (!entry->name || !entry->description) return false;
  if (LoadResourceString(IDS_DESTINATION_NAME, entry->name, kLocalizedNameCapacity - 1, language) == KVE_OK) {
    LoadResourceString(IDS_DESTINATION_DESCRIPTION, entry->description, kLocalizedDescriptionCapacity - 1, language);
  }
  return true;
}

DestinationListCache::~DestinationListCache() { Clear(); }

KVEDestinationList* DestinationListCache::Find(DWORD language) const noexcept {
  if (language == 0) return nullptr;
  for (size_t i = 0; i < languages_.size(); ++i) {
    if (languages_[i] == language) return lists_[i];
  }
  return nullptr;
}

void DestinationListCache::Add(DWORD language, KVEDestinationList* list) {
  if (language == 0) {
    uncached_.push_back(list);
    return;
  }
  // Room in both sequences first, so they never differ in length.
  languages_.reserve(languages_.size() + 1);
  lists_.reserve(lists_.size() + 1);
  languages_.push_back(language);
  lists_.push_back(list);
}

void DestinationListCache::Clear() noexcept {
  for (KVEDestinationList* list : lists_) FreeDestinationList(list);
  for (KVEDestinationList* list : uncached_) FreeDestinationList(list);
  // Swapping with empty sequences also returns their storage, without allocating.
  Sequence<DWORD>().swap(languages_);
  Sequence<KVEDestinationList*>().swap(lists_);
  Sequence<KVEDestinationList*>().swap(uncached_);
}

KVEDestinationList* GetExportDestinations(DWORD language) {
  if (KVEDestinationList* cached = g_DestinationListCache.Find(language)) return cached;
  struct ListFree {
    void operator()(KVEDestinationList* list) const noexcept { FreeDestinationList(list); }
  };
  kvcommon::UniquePointer<KVEDestinationList, ListFree> list(CloneDestinationList(g_ModuleState.templateList));
  if (!list || !LocalizeFirstEntry(list.get(), language)) return nullptr;
  g_DestinationListCache.Add(language, list.get());
  return list.release();
}
