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
// Whether a trace file is set now. Reading the environment costs about as
// much as a stream write of 4096 bytes, so a write stream asks once, when
// it is opened, instead of at each write.
bool TracingOn() noexcept;

}  // namespace provider
