// The unit tests' fixture over our MAPI32.DLL bound inside the test program:
// the module's resource set open, MAPI initialised, the provider's trace,
// fault injection and accounting at hand; every test ends with no live
// object and no outstanding buffer.
#pragma once

#include <kvprovider/diagnostics.h>

#include "interface/module_state.h"
#include "kvtest/profile_fixture.h"
#include "mapi/mapi_binding.h"
#include "platform/locale_library.h"

namespace kvtest {

class ProviderInProcessTest : public ProviderFolderTest {
 protected:
  void SetUp() override {
    ProviderFolderTest::SetUp();
    if (HasFatalFailure()) return;
    g_ModuleState.moduleInstance = GetModuleHandleW(nullptr);
    g_ModuleState.localeHandle = OpenModuleResources(g_ModuleState.moduleInstance);
    ASSERT_EQ(1, BindMAPI()) << "our MAPI32.DLL lies beside the program";
    liveObjects_ = reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(g_mapiModule, "KvMapiLiveObjects"));
    buffers_ = reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(g_mapiModule, "KvMapiOutstandingBuffers"));
    injectFault_ = reinterpret_cast<KvMapiInjectFaultFunction>(GetProcAddress(g_mapiModule, "KvMapiInjectFault"));
    clearFaults_ = reinterpret_cast<KvMapiClearFaultsFunction>(GetProcAddress(g_mapiModule, "KvMapiClearFaults"));
    ASSERT_TRUE(liveObjects_ && buffers_ && injectFault_ && clearFaults_) << "not our MAPI32.DLL";
    ASSERT_EQ(S_OK, g_MAPIFunctions.MAPIInitialize(nullptr));
  }
  void TearDown() override {
    if (g_mapiBound) {
      clearFaults_();
      ExpectEverythingReleased();
      g_MAPIFunctions.MAPIUninitialize();
      UnbindMAPI();
    }
    CloseModuleResources(g_ModuleState.localeHandle);
    g_ModuleState.localeHandle = 0;
  }
  void ExpectEverythingReleased() {
    EXPECT_EQ(0, liveObjects_()) << "MAPI objects not released";
    EXPECT_EQ(0, buffers_()) << "MAPI buffers not freed";
  }
  // Makes the nth next call of method fail with result.
  void Fail(const char* method, HRESULT result, ULONG nth = 1) { ASSERT_EQ(S_OK, injectFault_(method, nth, result)); }

  KvMapiCounterFunction liveObjects_ = nullptr;
  KvMapiCounterFunction buffers_ = nullptr;
  KvMapiInjectFaultFunction injectFault_ = nullptr;
  KvMapiClearFaultsFunction clearFaults_ = nullptr;
};

}  // namespace kvtest
