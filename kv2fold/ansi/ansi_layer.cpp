#include "ansi/ansi_layer.h"

AnsiLayerState g_AnsiLayer;

namespace {

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record GetVersionExA fills");

// Held for one scope.
class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CRITICAL_SECTION& section) noexcept : section_(section) {
    EnterCriticalSection(&section_);
  }
  ~CriticalSectionGuard() { LeaveCriticalSection(&section_); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

UINT ChooseCodePage() noexcept {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // deprecated, but platform and major version are all we ask of it
#endif
  if (!GetVersionExA(&version)) return CP_ACP;
  // From Windows 2000 on a thread may have a locale of its own.
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5 ? CP_THREAD_ACP : CP_ACP;
}

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& slot) noexcept {
  slot = reinterpret_cast<Function>(GetProcAddress(module, name));
  return slot != nullptr;
}

}  // namespace

bool ResolveWideEntries(HMODULE module, WideEntryTable& table) noexcept {
  table = WideEntryTable();
  table.moduleInstance = module;
  const bool mandatory = Resolve(module, "KVEInitializeW", table.KVEInitializeW) &&
                         Resolve(module, "KVETerminateW", table.KVETerminateW) &&
                         Resolve(module, "KVEGetVersionW", table.KVEGetVersionW) &&
                         Resolve(module, "KVEGetExportDestinationsW", table.KVEGetExportDestinationsW) &&
                         Resolve(module, "KVEInitExportDestinationW", table.KVEInitExportDestinationW) &&
                         Resolve(module, "KVETermExportDestinationW", table.KVETermExportDestinationW) &&
                         Resolve(module, "KVEEncodeDestinationOptionsW", table.KVEEncodeDestinationOptionsW) &&
                         Resolve(module, "KVEDecodeDestinationOptionsW", table.KVEDecodeDestinationOptionsW) &&
                         Resolve(module, "KVEFreeDestinationOptionsW", table.KVEFreeDestinationOptionsW) &&
                         Resolve(module, "KVEExportToDestinationW", table.KVEExportToDestinationW) &&
                         Resolve(module, "KVEGetErrorTextW", table.KVEGetErrorTextW) &&
                         Resolve(module, "IsThreadSafeW", table.IsThreadSafeW) &&
                         Resolve(module, "InitPerThreadW", table.InitPerThreadW) &&
                         Resolve(module, "UninitPerThreadW", table.UninitPerThreadW);
  if (!mandatory) return false;
  const bool free = Resolve(module, "KVEFreeDestinationOptionsA", table.KVEFreeDestinationOptionsA);
  const bool toWide = Resolve(module, "KVEDestinationOptionsA2W", table.KVEDestinationOptionsA2W);
  const bool toNarrow = Resolve(module, "KVEDestinationOptionsW2A", table.KVEDestinationOptionsW2A);
  if (!(free && toWide && toNarrow)) {
    table.KVEFreeDestinationOptionsA = nullptr;
    table.KVEDestinationOptionsA2W = nullptr;
    table.KVEDestinationOptionsW2A = nullptr;
  }
  return true;
}

bool AnsiLayerProcessAttach(HINSTANCE moduleInstance) noexcept {
  AnsiLayerState& layer = g_AnsiLayer;
  InitializeCriticalSection(&layer.codePageLock);
  layer.codePageLockReady = true;
  {
    CriticalSectionGuard guard(layer.codePageLock);
    layer.ansiCodePage = ChooseCodePage();
  }
  if (!ResolveWideEntries(moduleInstance, layer.wideEntries)) return false;
  InitializeCriticalSection(&layer.destinationsLock);
  layer.destinationsLockReady = true;
  layer.narrowDestinations.reset();
  return true;
}

void AnsiLayerProcessDetach() noexcept {
  // Also after a failed attach, when the loader detaches at once.
  AnsiLayerState& layer = g_AnsiLayer;
  if (layer.destinationsLockReady) DeleteCriticalSection(&layer.destinationsLock);
  if (layer.codePageLockReady) DeleteCriticalSection(&layer.codePageLock);
  layer.destinationsLockReady = false;
  layer.codePageLockReady = false;
  layer.narrowDestinations.reset();
  layer.wideEntries = WideEntryTable();
}

KVEDestinationListA* GetNarrowDestinations() noexcept {
  AnsiLayerState& layer = g_AnsiLayer;
  CriticalSectionGuard guard(layer.destinationsLock);
  if (!layer.narrowDestinations) {
    // The wide list belongs to the wide side; only the copy is kept here.
    NarrowDestinationList(layer.wideEntries.KVEGetExportDestinationsW(), layer.ansiCodePage,
                          layer.narrowDestinations);
  }
  return layer.narrowDestinations.get();
}
