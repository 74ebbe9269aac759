// The unit tests' fixture over our MAPI32.DLL bound inside the test program:
// the module's resource set open, MAPI initialised, the provider's trace,
// fault injection and accounting at hand; every test ends with no live
// object and no outstanding buffer.
#pragma once

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
    BindDiagnostics(g_mapiModule);
    if (HasFatalFailure()) return;
    ASSERT_EQ(S_OK, g_MAPIFunctions.MAPIInitialize(nullptr));
  }
  void TearDown() override {
    if (g_mapiBound) {
      if (liveObjects_) {
        clearFaults_();
        ExpectNothingHeld();
      }
      g_MAPIFunctions.MAPIUninitialize();
      UnbindMAPI();
    }
    CloseModuleResources(g_ModuleState.localeHandle);
    g_ModuleState.localeHandle = 0;
  }
};

}  // namespace kvtest
