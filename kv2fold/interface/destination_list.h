// The destination lists handed to the host: clones of the template,
// localised, cached per language and released only when the module unloads.
#pragma once

#include <windows.h>

#include <vector>

#include "interface/kve_api.h"
#include "platform/wide_text.h"

// Capacities of a localised entry's strings, in characters.
constexpr int kLocalizedNameCapacity = 256;
constexpr int kLocalizedDescriptionCapacity = 1021;

// A deep copy of source: list, entry array (none for count 0), entries and
// their strings. Null elements and null strings stay null. Null when memory
// runs out (nothing is left allocated).
KVEDestinationList* CloneDestinationList(const KVEDestinationList& source) noexcept;

// Frees a list made by CloneDestinationList, with everything it points to.
void FreeDestinationList(KVEDestinationList* list) noexcept;

// Gives the list's first entry fresh, empty name and description buffers
// and fills them with strings 1 and 17 in language (17 only when 1 loaded).
// A string that cannot be loaded leaves its field empty. False only when the
// buffers cannot be allocated.
bool LocalizeFirstEntry(KVEDestinationList* list, DWORD language) noexcept;

// Lists by language: two parallel sequences, keys and lists. Lists for
// language 0 are never found again but are kept too, so that unloading
// releases every list the module handed out.
class DestinationListCache {
 public:
  DestinationListCache() = default;
  ~DestinationListCache();
  DestinationListCache(const DestinationListCache&) = delete;
  DestinationListCache& operator=(const DestinationListCache&) = delete;

  // The list cached for language; null for language 0 or when none is.
  KVEDestinationList* Find(DWORD language) const noexcept;
  // Takes ownership of list; for language 0 it is only kept for release.
  // Throws std::bad_alloc (the cache is then unchanged).
  void Add(DWORD language, KVEDestinationList* list);
  // Frees every list and empties the cache.
  void Clear() noexcept;

 private:
  template <typename T>
  using Sequence = std::vector<T, ModuleAllocator<T>>;
  Sequence<DWORD> languages_;
  Sequence<KVEDestinationList*> lists_;
  Sequence<KVEDestinationList*> uncached_;  // language 0
};

// The module's cache, released at unload by its destructor.
extern DestinationListCache g_DestinationListCache;

// KVEGetExportDestinationsExW: the cached list for language, or a new
// localised clone of the template (cached unless language is 0). Null when
// memory for the list runs out; throws std::bad_alloc when the cache cannot
// grow (the new list is then freed).
KVEDestinationList* GetExportDestinations(DWORD language);
