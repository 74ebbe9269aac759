#include "diagnostics.h"

#include <mapicode.h>

#include <kvprovider/diagnostics.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "allocation.h"
#include "files.h"
#include "text.h"

namespace provider {
namespace {

std::atomic<long> g_liveObjects{0};

struct FaultRule {
  std::string method;
  ULONG remaining;  // calls still to let through before the fault
  HRESULT result;
};

std::mutex g_faultLock;
std::vector<FaultRule> g_faults;
bool g_environmentFaultsRead = false;

bool DiagnosticsOn() noexcept {
  wchar_t value[4];
  return GetEnvironmentVariableW(KV_MAPI_DIAGNOSTICS_VARIABLE, value, 4) == 1 && value[0] == L'1';
}

// "Iface::Method#N=0xHRESULT;..." from the environment, read once per process.
void ReadEnvironmentFaults() {
  if (g_environmentFaultsRead) return;
  g_environmentFaultsRead = true;
  std::string rules = ToUtf8(GetEnvironmentText(KV_MAPI_FAULTS_VARIABLE));
  size_t pos = 0;
  while (pos < rules.size()) {
    size_t end = rules.find(';', pos);
    if (end == std::string::npos) end = rules.size();
    std::string item = rules.substr(pos, end - pos);
    pos = end + 1;
    size_t hash = item.find('#');
    size_t equals = item.find('=');
    if (hash == std::string::npos || equals == std::string::npos || equals < hash) continue;
    unsigned long nth = strtoul(item.substr(hash + 1, equals - hash - 1).c_str(), nullptr, 10);
    unsigned long result = strtoul(item.substr(equals + 1).c_str(), nullptr, 0);
    if (nth == 0) continue;
    g_faults.push_back({item.substr(0, hash), static_cast<ULONG>(nth - 1), static_cast<HRESULT>(result)});
  }
}

}  // namespace

void CountObjectCreated() { ++g_liveObjects; }
void CountObjectDestroyed() { --g_liveObjects; }
long LiveObjectCount() { return g_liveObjects.load(); }

bool TakeFault(const char* iface, const char* method, HRESULT& fault) {
  std::lock_guard<std::mutex> guard(g_faultLock);
  ReadEnvironmentFaults();
  if (g_faults.empty()) return false;
  std::string name = std::string(iface) + "::" + method;
  for (auto rule = g_faults.begin(); rule != g_faults.end(); ++rule) {
    if (rule->method != name) continue;
    if (rule->remaining > 0) {
      --rule->remaining;
      return false;
    }
    fault = rule->result;
    g_faults.erase(rule);
    return true;
  }
  return false;
}

bool TracingOn() noexcept {
  wchar_t path[4];
  const DWORD length = GetEnvironmentVariableW(KV_MAPI_TRACE_VARIABLE, path, 4);
  return length > 0;
}

void TraceCall(const char* iface, const char* method, ULONG flags, HRESULT result) noexcept {
  // The path on the stack: tracing allocates nothing, so it cannot fail the call it records.
  wchar_t path[MAX_PATH * 2];
  DWORD length = GetEnvironmentVariableW(KV_MAPI_TRACE_VARIABLE, path, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return;
  char line[200];
  int size = snprintf(line, sizeof line, "%s::%s flags=0x%08lX -> 0x%08lX\r\n", iface, method,
                      static_cast<unsigned long>(flags), static_cast<unsigned long>(result));
  if (size <= 0) return;
  // Appending whole lines keeps the trace readable when several processes write it.
  kvcommon::UniqueFile file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line, static_cast<DWORD>(std::min(size, static_cast<int>(sizeof line) - 1)), &written, nullptr);
}

}  // namespace provider

extern "C" LONG WINAPI KvMapiLiveObjects(void) {
  return provider::DiagnosticsOn() ? provider::LiveObjectCount() : -1;
}

extern "C" LONG WINAPI KvMapiOutstandingBuffers(void) {
  return provider::DiagnosticsOn() ? provider::LiveBufferCount() : -1;
}

extern "C" HRESULT WINAPI KvMapiInjectFault(LPCSTR method, ULONG nthCall, HRESULT result) {
  if (!provider::DiagnosticsOn()) return MAPI_E_NO_SUPPORT;
  if (!method || nthCall == 0 || !strstr(method, "::")) return MAPI_E_INVALID_PARAMETER;
  try {
    std::lock_guard<std::mutex> guard(provider::g_faultLock);
    provider::ReadEnvironmentFaults();
    provider::g_faults.push_back({method, nthCall - 1, result});
    return S_OK;
  } catch (...) {
    return MAPI_E_NOT_ENOUGH_MEMORY;
  }
}

extern "C" HRESULT WINAPI KvMapiClearFaults(void) {
  if (!provider::DiagnosticsOn()) return MAPI_E_NO_SUPPORT;
  try {
    std::lock_guard<std::mutex> guard(provider::g_faultLock);
    provider::g_faults.clear();
    return S_OK;
  } catch (...) {
    return MAPI_E_CALL_FAILED;
  }
}
