// The unit tests' fixture over our MAPI32.DLL bound inside the test program:
// the module's resource set open, MAPI initialised, the provider's trace,
// fault injection and accounting at hand; every test ends with no live
// object and no outstanding buffer.
#pragma once

#include "kvtest/profile_fixture.h"
#include "mapi/mapi_binding.h"
#include "platform/locale_library.h"
#include "platform/module_resources.h"

namespace kvtest {

class ProviderInProcessTest : public ProviderFolderTest {
 protected:
  void SetUp() override {
    ProviderFolderTest::SetUp();
    if (HasFatalFailure()) return;
    g_ModuleResources.moduleInstance = GetModuleHandleW(nullptr);
    g_ModuleResources.localeHandle = OpenModuleResources(g_ModuleResources.moduleInstance);
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
    CloseModuleResources(g_ModuleResources.localeHandle);
    g_ModuleResources.localeHandle = 0;
  }
};

}  // namespace kvtest
