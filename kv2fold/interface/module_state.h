// The module-wide state: initialisation count, message classes and the
// destination template that every list is cloned from. One instance,
// g_ModuleState, from load to unload. The instance handle and the resource
// set live below, in platform/module_resources.h.
#pragma once

#include <windows.h>

#include <cstdint>

#include "interface/kve_api.h"

// The interface version KVEGetVersionW reports.
constexpr int kInterfaceVersion = 0x0100;
// Capacity of the message class buffers, in characters.
constexpr int kMessageClassCapacity = 256;

struct ModuleState {
  ModuleState() noexcept;

  uint32_t initCount = 0;  // successful KVEInitializeW calls not yet terminated
  wchar_t reportMessageClass[kMessageClassCapacity] = {};    // string 7, "IPM.ZORLAN.REPORT.TEMPLATE"
  wchar_t documentMessageClass[kMessageClassCapacity] = {};  // string 6, "IPM.Document.*"

  // The destination template. Constant but for the entry's name and
  // description, which the first KVEInitializeW fills and the last
  // KVETerminateW frees.
  KVEDestinationEntry templateEntry;
  KVEDestinationEntry* templateEntries[1];
  KVEDestinationList templateList;
};

extern ModuleState g_ModuleState;

// KVEInitializeW: counts a repeated call; the first one opens the resource
// set, loads the destination strings and message classes and binds MAPI.
// Returns 0, 7 (a string is missing), 2 (out of memory) or -1 (MAPI could
// not be bound); on failure nothing is held and the count stays 0.
int InitializeModule() noexcept;

// KVETerminateW: the call that brings the count to 0 releases everything the
// first KVEInitializeW acquired. A call while the count is 0 does nothing.
void TerminateModule() noexcept;
