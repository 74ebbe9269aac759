// TLS 1.2 over any ByteStream with Schannel, the server's certificate checked
// by us (Wine's Schannel never checks it; Windows does only when asked).
#pragma once

#include <windows.h>
#define SECURITY_WIN32
#include <sspi.h>

#include <memory>
#include <string>

#include <kvimap/byte_stream.h>

namespace kvimap {

struct TlsOptions {
  // The name sent as SNI and required in the certificate (DNS or IP name).
  std::wstring serverName;
  // Hex SHA-256 of the certificate's DER (colons and case ignored). When set
  // it replaces the chain of trust: the certificate must be exactly this one,
  // carry serverName and be within its dates. When empty the chain must lead
  // to a trusted root (CERT_CHAIN_POLICY_SSL with serverName).
  std::string pinnedSha256;
  // The SSPI entry points; null takes the system's (InitSecurityInterfaceW).
  // Tests may hand in their own table to play Schannel's part.
  const SecurityFunctionTableW* sspi = nullptr;
};

// Runs the client handshake over inner and checks the certificate. On
// success *secured owns inner; on failure inner is closed. TlsUnavailable
// for a failed handshake, CertificateRefused (with the problem) for a
// certificate we do not accept, ConnectionLost when inner ends.
[[nodiscard]] Status StartTls(std::unique_ptr<ByteStream> inner, const TlsOptions& options,
                              std::unique_ptr<ByteStream>* secured) noexcept;

// The hex SHA-256 of a certificate (DER), lower case, no separators.
[[nodiscard]] Status CertificateSha256(const void* der, size_t size, std::string* hex) noexcept;

}  // namespace kvimap
