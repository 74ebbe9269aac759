// Where a job posts: what a host options record carries and what the setup
// settles, as plain owned strings and the posting kind.
#pragma once

#include <cstdint>

#include "platform/wide_text.h"

struct DestinationSettings {
  ModuleBlock<wchar_t> profileName;  // after logon: the profile actually used
  ModuleBlock<wchar_t> password;     // null: none given
  ModuleBlock<wchar_t> folderPath;   // "#"-joined display names
  uint16_t postingKind = 0;
};
