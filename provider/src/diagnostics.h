// Accounting of live objects, fault injection and the call trace.
#pragma once

#include <windows.h>

namespace provider {

void CountObjectCreated();
void CountObjectDestroyed();
long LiveObjectCount();

// True when a fault is armed for this call of "iface::method"; consumes it.
bool TakeFault(const char* iface, const char* method, HRESULT& fault);
// Appends the call's line to the trace file, when one is set; never throws.
void TraceCall(const char* iface, const char* method, ULONG flags, HRESULT result) noexcept;

}  // namespace provider
