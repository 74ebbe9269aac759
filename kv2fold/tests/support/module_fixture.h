// The real KV2FOLD.dll loaded and initialised as a host does it, over our
// MAPI32.DLL and the profiles of kvtest::ProviderFolderTest; at the end the
// provider's accounting must show no live object and no outstanding buffer.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "interface/kve_api.h"
#include "kvtest/profile_fixture.h"
#include "store_layout.h"
#include "tests/support/module_export.h"

namespace kvtest {

class ModuleThroughProviderTest : public ProviderFolderTest {
 protected:
  void SetUp() override {
    ProviderFolderTest::SetUp();
    if (HasFatalFailure()) return;
    module_ = LoadLibraryW(L"KV2FOLD.dll");
    ASSERT_NE(nullptr, module_);
    initialize_ = MODULE_EXPORT(module_, KVEInitializeW);
    terminate_ = MODULE_EXPORT(module_, KVETerminateW);
    initExport = MODULE_EXPORT(module_, KVEInitExportDestinationW);
    termExport = MODULE_EXPORT(module_, KVETermExportDestinationW);
    exportFiles = MODULE_EXPORT(module_, KVEExportToDestinationW);
    encode = MODULE_EXPORT(module_, KVEEncodeDestinationOptionsW);
    decode = MODULE_EXPORT(module_, KVEDecodeDestinationOptionsW);
    freeOptions = MODULE_EXPORT(module_, KVEFreeDestinationOptionsW);
    errorText = MODULE_EXPORT(module_, KVEGetErrorTextW);
    ASSERT_EQ(0, initialize_(0));
    // Held by the test too, so the accounting can be read after the module let go.
    mapi_ = LoadLibraryW(L"MAPI32.DLL");
    ASSERT_EQ(mapi_, GetModuleHandleW(L"MAPI32.DLL"));
    BindDiagnostics(mapi_);
    if (HasFatalFailure()) return;

    file_.structSize = sizeof file_;
    file_.useFileName = 1;
    file_.fileName = L"C:\\exports\\sales.pdf";
    filePointer_ = &file_;
    info_.structSize = sizeof info_;
    info_.fileCount = 1;
    info_.files = &filePointer_;
    info_.language = 0x0409;
  }
  // Inbox#Q#1 in the profile's store: no path names a folder with "#" in its
  // name, so the store's own layout makes it.
  void MakeFolderWithHash(const std::wstring& profile) {
    std::unique_ptr<provider::StoreLayout> layout;
    provider::FolderRecord inbox, made;
    ASSERT_EQ(provider::StoreResult::Ok, provider::StoreLayout::Open(StoreDirectory(profile), layout));
    ASSERT_EQ(provider::StoreResult::Ok, layout->FindByPath(L"Inbox", inbox));
    ASSERT_EQ(provider::StoreResult::Ok, layout->CreateFolder(inbox, L"Q#1", L"", false, made));
  }
  void TearDown() override {
    if (terminate_) terminate_();
    if (liveObjects_) {
      clearFaults_();
      ExpectNothingHeld();
    }
    if (mapi_) FreeLibrary(mapi_);
    if (module_) FreeLibrary(module_);
  }

  HMODULE module_ = nullptr;
  HMODULE mapi_ = nullptr;
  decltype(&KVEInitializeW) initialize_ = nullptr;
  decltype(&KVETerminateW) terminate_ = nullptr;
  decltype(&KVEInitExportDestinationW) initExport = nullptr;
  decltype(&KVETermExportDestinationW) termExport = nullptr;
  decltype(&KVEExportToDestinationW) exportFiles = nullptr;
  decltype(&KVEEncodeDestinationOptionsW) encode = nullptr;
  decltype(&KVEDecodeDestinationOptionsW) decode = nullptr;
  decltype(&KVEFreeDestinationOptionsW) freeOptions = nullptr;
  decltype(&KVEGetErrorTextW) errorText = nullptr;
  KVEExportFile file_{};
  KVEExportFile* filePointer_ = nullptr;
  KVEExportInfo info_{};
};

}  // namespace kvtest
