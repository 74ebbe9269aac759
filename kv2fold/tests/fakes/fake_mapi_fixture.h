// The GoogleTest fixture for unit tests over the MAPI fakes: the fakes in
// place for one test, the module's resource set open (the test program
// carries the English strings, the satellites lie beside it), and the closing
// check that every fake interface was released and every MAPI buffer freed.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interface/module_state.h"
#include "platform/locale_library.h"
#include "tests/fakes/fake_mapi.h"

namespace kvfake {

class FakeMapiTest : public testing::Test {
 protected:
  void SetUp() override {
    g_ModuleState.moduleInstance = GetModuleHandleW(nullptr);
    g_ModuleState.localeHandle = OpenModuleResources(g_ModuleState.moduleInstance);
    ASSERT_NE(0u, g_ModuleState.localeHandle);
  }
  void TearDown() override {
    CloseModuleResources(g_ModuleState.localeHandle);
    g_ModuleState.localeHandle = 0;
    ExpectEverythingReleased();
  }
  void ExpectEverythingReleased() {
    EXPECT_EQ(0, fake.liveObjects()) << "fake interfaces still referenced";
    EXPECT_EQ(0u, fake.outstandingBuffers()) << "MAPI buffers not freed";
    EXPECT_EQ(0, fake.invalidFrees()) << "MAPIFreeBuffer of a block MAPI did not hand out";
  }

  FakeMapi fake;
};

}  // namespace kvfake
