// A Winsock TCP connection as a ByteStream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <kvimap/byte_stream.h>

namespace kvimap {

struct TcpOptions {
  unsigned long connectTimeoutMs = 15000;  // for each address the name resolves to
  unsigned long ioTimeoutMs = 60000;       // for each send and each receive
};

// Resolves host (getaddrinfo, IPv4 and IPv6) and connects to the first
// address that answers. Unreachable when none does; a later timeout reads
// as ConnectionLost.
[[nodiscard]] Status ConnectTcp(const std::wstring& host, uint16_t port, const TcpOptions& options,
                                std::unique_ptr<ByteStream>* stream) noexcept;

}  // namespace kvimap
