// Owners (kvcommon::UniqueResource traits) for what Winsock, SSPI and crypt32
// hand out. SSPI handles remember the function table that made them, so a
// replaced table also frees its own handles.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>
#define SECURITY_WIN32
#include <sspi.h>

#include <kvcommon/unique_resource.h>

namespace kvimap {

struct SocketTraits {
  using value_type = SOCKET;
  static SOCKET invalid() noexcept { return INVALID_SOCKET; }
  static void close(SOCKET s) noexcept { closesocket(s); }
};
using UniqueSocket = kvcommon::UniqueResource<SocketTraits>;

struct AddressInfoFree {
  void operator()(ADDRINFOW* info) const noexcept { FreeAddrInfoW(info); }
};
using UniqueAddressInfo = kvcommon::UniquePointer<ADDRINFOW, AddressInfoFree>;

struct CertificateFree {
  void operator()(const CERT_CONTEXT* certificate) const noexcept { CertFreeCertificateContext(certificate); }
};
using UniqueCertificate = kvcommon::UniquePointer<const CERT_CONTEXT, CertificateFree>;

struct ChainFree {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const noexcept { CertFreeCertificateChain(chain); }
};
using UniqueChain = kvcommon::UniquePointer<const CERT_CHAIN_CONTEXT, ChainFree>;

// A credentials or context handle, or a buffer SSPI allocated, with its table.
template <typename Handle>
struct SspiValue {
  Handle value;
  const SecurityFunctionTableW* sspi;
  friend bool operator==(const SspiValue& a, const SspiValue& b) noexcept {
    return a.sspi == b.sspi && Same(a.value, b.value);
  }
  friend bool operator!=(const SspiValue& a, const SspiValue& b) noexcept { return !(a == b); }

 private:
  static bool Same(const SecHandle& a, const SecHandle& b) noexcept {
    return a.dwLower == b.dwLower && a.dwUpper == b.dwUpper;
  }
  static bool Same(void* a, void* b) noexcept { return a == b; }
};

struct CredentialsTraits {
  using value_type = SspiValue<CredHandle>;
  static value_type invalid() noexcept { return {{0, 0}, nullptr}; }
  static void close(value_type v) noexcept { v.sspi->FreeCredentialsHandle(&v.value); }
};
struct ContextTraits {
  using value_type = SspiValue<CtxtHandle>;
  static value_type invalid() noexcept { return {{0, 0}, nullptr}; }
  static void close(value_type v) noexcept { v.sspi->DeleteSecurityContext(&v.value); }
};
struct ContextBufferTraits {
  using value_type = SspiValue<void*>;
  static value_type invalid() noexcept { return {nullptr, nullptr}; }
  static void close(value_type v) noexcept { v.sspi->FreeContextBuffer(v.value); }
};
using UniqueCredentials = kvcommon::UniqueResource<CredentialsTraits>;
using UniqueContext = kvcommon::UniqueResource<ContextTraits>;
using UniqueContextBuffer = kvcommon::UniqueResource<ContextBufferTraits>;

// WSAStartup for as long as the owner lives (Winsock counts the calls).
class WinsockUse {
 public:
  WinsockUse() noexcept {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockUse() {
    if (started_) WSACleanup();
  }
  WinsockUse(const WinsockUse&) = delete;
  WinsockUse& operator=(const WinsockUse&) = delete;
  bool started() const noexcept { return started_; }

 private:
  bool started_;
};

}  // namespace kvimap
