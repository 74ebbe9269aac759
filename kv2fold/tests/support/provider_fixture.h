// Fixtures of the tests that run against our MAPI32.DLL: the profiles, stores
// and trace of one test, and the real KV2FOLD.dll loaded over them.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <kvprovider/diagnostics.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "admin_lib.h"
#include "interface/kve_api.h"
#include "platform/tests/test_support.h"

namespace kvtest {

#define MODULE_EXPORT(module, name) reinterpret_cast<decltype(&name)>(GetProcAddress(module, #name))

// A folder of its own per test holding the profiles file ("Work" with a
// password, "Open" the default without one), the stores and the trace.
class ProviderFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder_.c_str()));
    tracePath_ = folder_ + L"\\trace.txt";
    SetEnvironmentVariableW(KV_MAPI_DIAGNOSTICS_VARIABLE, L"1");
    SetEnvironmentVariableW(KV_MAPI_PROFILES_VARIABLE, ProfilesPath().c_str());
    SetEnvironmentVariableW(KV_MAPI_TRACE_VARIABLE, tracePath_.c_str());
    MakeProfile(L"Work", L"secret", false);
    MakeProfile(L"Open", L"", true);  // no password; the default profile
  }
  void TearDown() override {
    SetEnvironmentVariableW(KV_MAPI_TRACE_VARIABLE, nullptr);
    SetEnvironmentVariableW(KV_MAPI_PROFILES_VARIABLE, nullptr);
  }
  std::wstring ProfilesPath() const { return folder_ + L"\\profiles.ini"; }
  // The directory of a profile's one store, "Mailbox".
  std::wstring StoreDirectory(const std::wstring& profile) const { return folder_ + L"\\" + profile + L"-mailbox"; }

  // A profile whose store "Mailbox" (its default) holds the given folders.
  void MakeProfile(const std::wstring& name, const std::wstring& password, bool makeDefault,
                   const std::vector<std::wstring>& folders = {L"Mailbox#Inbox#Reports"},
                   const std::vector<std::wstring>& readOnlyFolders = {}) {
    provider::admin::ProfileRequest request;
    request.profile.name = name;
    request.profile.password = password;
    request.profile.userName = L"Erika Mustermann";
    request.profile.userAddress = L"erika@example.org";
    provider::StoreConfig store;
    store.name = L"Mailbox";
    store.directory = StoreDirectory(name);
    request.profile.stores.push_back(store);
    request.profile.defaultStore = L"Mailbox";
    request.folders = folders;
    request.readOnlyFolders = readOnlyFolders;
    request.makeDefault = makeDefault;
    std::wstring error;
    ASSERT_TRUE(provider::admin::CreateProfile(ProfilesPath(), request, error)) << std::string(error.begin(), error.end());
  }

  // Writes a file into the test's folder under its name; its path.
  std::wstring MakeFile(const std::wstring& name, const std::vector<BYTE>& bytes) {
    std::wstring path = folder_ + L"\\" + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
  }

  // The trace's lines that contain text, without their line ends.
  std::vector<std::string> TraceLines(const std::string& text) {
    std::ifstream in(std::string(tracePath_.begin(), tracePath_.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find(text) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }
  std::string Trace() {
    std::ifstream in(std::string(tracePath_.begin(), tracePath_.end()));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  TempDirectory directory_;
  const std::wstring folder_ = directory_.path();
  std::wstring tracePath_;
};

// The real KV2FOLD.dll loaded and initialised as a host does it; at the end
// the provider's accounting must show no live object and no outstanding buffer.
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
    liveObjects_ = reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(mapi_, "KvMapiLiveObjects"));
    outstandingBuffers_ = reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(mapi_, "KvMapiOutstandingBuffers"));
    ASSERT_TRUE(liveObjects_ && outstandingBuffers_) << "not our MAPI32.DLL";

    file_.structSize = sizeof file_;
    file_.useFileName = 1;
    file_.fileName = L"C:\\exports\\sales.pdf";
    filePointer_ = &file_;
    info_.structSize = sizeof info_;
    info_.fileCount = 1;
    info_.files = &filePointer_;
    info_.language = 0x0409;
  }
  void TearDown() override {
    if (terminate_) terminate_();
    if (liveObjects_) {
      EXPECT_EQ(0, liveObjects_()) << "MAPI objects not released";
      EXPECT_EQ(0, outstandingBuffers_()) << "MAPI buffers not freed";
    }
    if (mapi_) FreeLibrary(mapi_);
    if (module_) FreeLibrary(module_);
    ProviderFolderTest::TearDown();
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
  KvMapiCounterFunction liveObjects_ = nullptr;
  KvMapiCounterFunction outstandingBuffers_ = nullptr;
  KVEExportFile file_{};
  KVEExportFile* filePointer_ = nullptr;
  KVEExportInfo info_{};
};

}  // namespace kvtest
