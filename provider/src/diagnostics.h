// Accounting of live objects, fault injection and the call trace.
#pragma once

#include <windows.h>

namespace provider {

void CountObjectCreated();
void CountObjectDestroyed();
long LiveObjectCount();

// True when a fault is armed for this call of "iface::method"; consumes it.
bool TakeFault(const char* iface, const char* method, HRESULT& fault);
void TraceCall(const char* iface, const char* method, ULONG flags, HRESULT result);

}  // namespace provider
