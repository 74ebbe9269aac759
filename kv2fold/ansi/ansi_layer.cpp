#include "ansi/ansi_layer.h"

namespace {
// Where the layer will look up the wide entry points.
HINSTANCE g_ansiModule = nullptr;
}  // namespace

bool AnsiLayerProcessAttach(HINSTANCE moduleInstance) noexcept {
  // Nothing can fail yet: the narrow exports are still to come.
  g_ansiModule = moduleInstance;
  return true;
}

void AnsiLayerProcessDetach() noexcept { g_ansiModule = nullptr; }
