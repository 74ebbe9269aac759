// Start-up and shut-down of the narrow-character export layer, run by the
// module's entry routine at process attach and detach. The narrow exports
// and their conversions grow here.
#pragma once

#include <windows.h>

// Prepares the layer for the module instance. The module fails to load when
// this returns false.
bool AnsiLayerProcessAttach(HINSTANCE moduleInstance) noexcept;

// Releases what the layer holds.
void AnsiLayerProcessDetach() noexcept;
