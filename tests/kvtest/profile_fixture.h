// The fixture of every test that runs against our MAPI32.DLL from outside
// the provider (the module's, the host's): a folder of its own holding the
// profiles file, the stores and the provider's trace; and, once the test
// has the library loaded, the provider's accounting and fault injection.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <kvprovider/diagnostics.h>

#include <string>
#include <vector>

#include "admin_lib.h"
#include "kvtest/environment.h"

namespace kvtest {

// Profiles "Work" (password "secret") and "Open" (the default, no password),
// each with one store "Mailbox" holding Inbox#Reports; the trace switched on.
class ProviderFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder_.c_str()));
    MakeProfile(L"Work", L"secret", false);
    MakeProfile(L"Open", L"", true);
  }
  std::wstring ProfilesPath() const { return folder_ + L"\\profiles.ini"; }
  // The directory of a profile's one store, "Mailbox".
  std::wstring StoreDirectory(const std::wstring& profile) const { return folder_ + L"\\" + profile + L"-mailbox"; }

  // A profile whose store "Mailbox" (its default) and other stores hold the
  // given folders, each store in a folder "<profile>-<store>".
  void MakeProfile(const std::wstring& name, const std::wstring& password, bool makeDefault,
                   const std::vector<std::wstring>& folders = {L"Mailbox#Inbox#Reports"},
                   const std::vector<std::wstring>& readOnlyFolders = {},
                   const std::vector<std::wstring>& otherStores = {}) {
    provider::admin::ProfileRequest request;
    request.profile.name = name;
    request.profile.password = password;
    request.profile.userName = L"Erika Mustermann";
    request.profile.userAddress = L"erika@example.org";
    request.profile.stores.push_back({L"Mailbox", StoreDirectory(name)});
    for (const std::wstring& store : otherStores) {
      request.profile.stores.push_back({store, folder_ + L"\\" + name + L"-" + store});
    }
    request.profile.defaultStore = L"Mailbox";
    request.folders = folders;
    request.readOnlyFolders = readOnlyFolders;
    request.makeDefault = makeDefault;
    std::wstring error;
    ASSERT_TRUE(provider::admin::CreateProfile(ProfilesPath(), request, error)) << InCodePage(error, CP_UTF8);
  }
  // Writes a file into the test's folder under its name; its path.
  std::wstring MakeFile(const std::wstring& name, const Bytes& bytes) { return directory_.Write(name, bytes); }

  // The trace's lines that contain text, without their line ends.
  std::vector<std::string> TraceLines(const std::string& text) const {
    std::vector<std::string> lines;
    const std::string trace = Trace();
    for (size_t at = 0, end; at < trace.size(); at = end + 1) {
      end = trace.find('\n', at);
      if (end == std::string::npos) end = trace.size();
      std::string line = trace.substr(at, end - at);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find(text) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }
  std::string Trace() const {
    const Bytes bytes = ReadBytes(tracePath_);
    return std::string(bytes.begin(), bytes.end());
  }
  // The trace from here on.
  void ClearTrace() const { DeleteFileW(tracePath_.c_str()); }

  // Looks up the diagnostics of the loaded MAPI32.DLL.
  void BindDiagnostics(HMODULE mapi) {
    liveObjects_ = reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(mapi, "KvMapiLiveObjects"));
    outstandingBuffers_ = reinterpret_cast<KvMapiCounterFunction>(GetProcAddress(mapi, "KvMapiOutstandingBuffers"));
    injectFault_ = reinterpret_cast<KvMapiInjectFaultFunction>(GetProcAddress(mapi, "KvMapiInjectFault"));
    clearFaults_ = reinterpret_cast<KvMapiClearFaultsFunction>(GetProcAddress(mapi, "KvMapiClearFaults"));
    if (!liveObjects_ || !outstandingBuffers_ || !injectFault_ || !clearFaults_) {
      liveObjects_ = nullptr;  // all or none, so that a teardown may ask
      FAIL() << "not our MAPI32.DLL";
    }
  }
  // How every test over the provider ends.
  void ExpectNothingHeld() const {
    EXPECT_EQ(0, liveObjects_()) << "MAPI objects not released";
    EXPECT_EQ(0, outstandingBuffers_()) << "MAPI buffers not freed";
  }
  // Makes the nth next call of method ("Interface::Method") fail with result.
  void Fail(const char* method, HRESULT result, ULONG nth = 1) const {
    ASSERT_EQ(S_OK, injectFault_(method, nth, result));
  }

  TempDirectory directory_;
  const std::wstring folder_ = directory_.path();
  const std::wstring tracePath_ = folder_ + L"\\trace.txt";
  ScopedVariable diagnostics_{KV_MAPI_DIAGNOSTICS_VARIABLE, L"1"};
  ScopedVariable profiles_{KV_MAPI_PROFILES_VARIABLE, ProfilesPath().c_str()};
  ScopedVariable trace_{KV_MAPI_TRACE_VARIABLE, tracePath_.c_str()};
  KvMapiCounterFunction liveObjects_ = nullptr;
  KvMapiCounterFunction outstandingBuffers_ = nullptr;
  KvMapiInjectFaultFunction injectFault_ = nullptr;
  KvMapiClearFaultsFunction clearFaults_ = nullptr;
};

}  // namespace kvtest
