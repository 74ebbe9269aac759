// The narrow-character export layer's module-wide state: the code page of
// its conversions, the wide entry points it forwards to (looked up by name in
// the module's own export table, so the layer depends on nothing of the wide
// side but its export names), and the narrow destination list. Filled at
// process attach, released at process detach.
#pragma once

#include <windows.h>

#include "ansi/narrow_records.h"
#include "interface/kve_api.h"

// The wide entry points, by the names they are exported under.
struct WideEntryTable {
  HINSTANCE moduleInstance = nullptr;
  decltype(&::KVEInitializeW) KVEInitializeW = nullptr;
  decltype(&::KVETerminateW) KVETerminateW = nullptr;
  decltype(&::KVEGetVersionW) KVEGetVersionW = nullptr;
  decltype(&::KVEGetExportDestinationsW) KVEGetExportDestinationsW = nullptr;
  decltype(&::KVEInitExportDestinationW) KVEInitExportDestinationW = nullptr;
  decltype(&::KVETermExportDestinationW) KVETermExportDestinationW = nullptr;
  decltype(&::KVEEncodeDestinationOptionsW) KVEEncodeDestinationOptionsW = nullptr;
  decltype(&::KVEDecodeDestinationOptionsW) KVEDecodeDestinationOptionsW = nullptr;
  decltype(&::KVEFreeDestinationOptionsW) KVEFreeDestinationOptionsW = nullptr;
  decltype(&::KVEExportToDestinationW) KVEExportToDestinationW = nullptr;
  decltype(&::KVEGetErrorTextW) KVEGetErrorTextW = nullptr;
  decltype(&::IsThreadSafeW) IsThreadSafeW = nullptr;
  decltype(&::InitPerThreadW) InitPerThreadW = nullptr;
  decltype(&::UninitPerThreadW) UninitPerThreadW = nullptr;
  // Optional, all three or none: without them options records and blocks
  // pass between host and wide side unconverted.
  decltype(&::KVEFreeDestinationOptionsA) KVEFreeDestinationOptionsA = nullptr;
  decltype(&::KVEDestinationOptionsA2W) KVEDestinationOptionsA2W = nullptr;
  decltype(&::KVEDestinationOptionsW2A) KVEDestinationOptionsW2A = nullptr;
};

// Looks the entry points up in module. False when a mandatory one is
// missing; the optional ones are all set or all null.
bool ResolveWideEntries(HMODULE module, WideEntryTable& table) noexcept;

struct AnsiLayerState {
  // CP_THREAD_ACP on NT 5 and later, CP_ACP before; fixed at attach. The
  // options record conversions use CP_ACP whatever this says.
  UINT ansiCodePage = CP_ACP;
  CRITICAL_SECTION codePageLock;
  bool codePageLockReady = false;
  WideEntryTable wideEntries;
  CRITICAL_SECTION destinationsLock;
  bool destinationsLockReady = false;
  NarrowDestinationListCopy narrowDestinations;  // built at the first request
};

extern AnsiLayerState g_AnsiLayer;

// Prepares the layer for the module instance. The module fails to load when
// this returns false.
bool AnsiLayerProcessAttach(HINSTANCE moduleInstance) noexcept;

// Releases what the layer holds.
void AnsiLayerProcessDetach() noexcept;

// KVEGetExportDestinations: the narrow copy of the user's destination list,
// made once per process; null only while it cannot be made.
KVEDestinationListA* GetNarrowDestinations() noexcept;
