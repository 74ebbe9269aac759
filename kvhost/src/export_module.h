// An export-destination module loaded the way a report-writing host loads
// it: by path, with its entry points looked up by name.
#pragma once

#include <windows.h>

#include <string>

#include <kvcommon/unique_resource.h>

#include "interface/kve_api.h"

class Messages;

class ExportModule {
 public:
  // Loads the module and resolves the entry points kvhost calls. On failure
  // error holds the message and nothing stays loaded.
  bool Load(const std::wstring& path, const Messages& messages, std::wstring* error);

  decltype(&::KVEInitializeW) KVEInitializeW = nullptr;
  decltype(&::KVETerminateW) KVETerminateW = nullptr;
  decltype(&::KVEGetExportDestinationsW) KVEGetExportDestinationsW = nullptr;
  decltype(&::KVEGetExportDestinationsExW) KVEGetExportDestinationsExW = nullptr;
  decltype(&::KVEInitExportDestinationW) KVEInitExportDestinationW = nullptr;
  decltype(&::KVEExportToDestinationW) KVEExportToDestinationW = nullptr;
  decltype(&::KVETermExportDestinationW) KVETermExportDestinationW = nullptr;
  decltype(&::KVEGetErrorTextW) KVEGetErrorTextW = nullptr;
  decltype(&::KVEEncodeDestinationOptionsW) KVEEncodeDestinationOptionsW = nullptr;
  decltype(&::KVEDecodeDestinationOptionsW) KVEDecodeDestinationOptionsW = nullptr;
  decltype(&::KVEFreeDestinationOptionsW) KVEFreeDestinationOptionsW = nullptr;

 private:
  kvcommon::UniqueModule module_;
};

// The same module driven through its narrow exports (kvhost --ansi), as a
// host built for narrow strings sees it: only the narrow names are looked up.
class NarrowExportModule {
 public:
  bool Load(const std::wstring& path, const Messages& messages, std::wstring* error);

  decltype(&::KVEInitialize) KVEInitialize = nullptr;
  decltype(&::KVETerminate) KVETerminate = nullptr;
  decltype(&::KVEGetExportDestinations) KVEGetExportDestinations = nullptr;
  decltype(&::KVEInitExportDestination) KVEInitExportDestination = nullptr;
  decltype(&::KVEExportToDestination) KVEExportToDestination = nullptr;
  decltype(&::KVETermExportDestination) KVETermExportDestination = nullptr;
  decltype(&::KVEGetErrorText) KVEGetErrorText = nullptr;
  decltype(&::KVEEncodeDestinationOptions) KVEEncodeDestinationOptions = nullptr;
  decltype(&::KVEDecodeDestinationOptions) KVEDecodeDestinationOptions = nullptr;
  decltype(&::KVEFreeDestinationOptions) KVEFreeDestinationOptions = nullptr;

 private:
  kvcommon::UniqueModule module_;
};

// KV2FOLD.dll in the folder of the running program.
std::wstring DefaultModulePath();
