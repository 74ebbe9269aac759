#include <kvimap/tcp_stream.h>

#include "windows_owners.h"

#include <algorithm>
#include <new>

namespace kvimap {
namespace {

class TcpStream final : public ByteStream {
 public:
  Status ReadSome(void* buffer, size_t capacity, size_t* received) noexcept override {
    *received = 0;
    int n = recv(socket_.get(), static_cast<char*>(buffer), static_cast<int>(std::min<size_t>(capacity, 1 << 20)), 0);
    if (n < 0) return SocketFailure("receiving failed");
    *received = static_cast<size_t>(n);
    return Status();
  }

  Status WriteAll(const void* data, size_t size) noexcept override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      int n = send(socket_.get(), p, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
      if (n <= 0) return SocketFailure("sending failed");
      p += n;
      size -= static_cast<size_t>(n);
    }
    return Status();
  }

  void Close() noexcept override {
    if (socket_) shutdown(socket_.get(), SD_SEND);
    socket_.reset();
  }

  WinsockUse winsock;  // declared before the socket: released after it
  UniqueSocket socket_;

 private:
  static Status SocketFailure(const char* what) noexcept {
    int error = WSAGetLastError();
    return Failure(Result::ConnectionLost, error == WSAETIMEDOUT ? "the server did not answer in time" : what, error);
  }
};

// A connect that gives up after timeoutMs: non-blocking, then select.
int ConnectWithin(SOCKET s, const sockaddr* address, int length, unsigned long timeoutMs) noexcept {
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return WSAGetLastError();
  if (connect(s, address, length) != 0) {
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval timeout;
    timeout.tv_sec = static_cast<long>(timeoutMs / 1000);
    timeout.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    int ready = select(0, nullptr, &writable, &failed, &timeout);
    if (ready == 0) return WSAETIMEDOUT;
    if (ready < 0) return WSAGetLastError();
    int soError = 0;
    int size = sizeof(soError);
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size) != 0) return WSAGetLastError();
    if (soError != 0) return soError;
    if (!FD_ISSET(s, &writable)) return WSAECONNREFUSED;
  }
  u_long blocking = 0;
  if (ioctlsocket(s, FIONBIO, &blocking) != 0) return WSAGetLastError();
  return 0;
}

}  // namespace

Status ConnectTcp(const std::wstring& host, uint16_t port, const TcpOptions& options,
                  std::unique_ptr<ByteStream>* stream) noexcept {
  stream->reset();
  std::unique_ptr<TcpStream> tcp(new (std::nothrow) TcpStream);
  if (!tcp) return Status(Result::OutOfMemory);
  if (!tcp->winsock.started()) return Failure(Result::Unreachable, "Winsock is not available", WSAGetLastError());

  ADDRINFOW hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  wchar_t service[8] = {};
  wchar_t* digit = service + 6;
  unsigned rest = port;
  do {
    *--digit = static_cast<wchar_t>(L'0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  UniqueAddressInfo addresses;
  int error = GetAddrInfoW(host.c_str(), digit, &hints, addresses.put());
  if (error != 0) return Failure(Result::Unreachable, "the server's name cannot be resolved", error);

  for (const ADDRINFOW* a = addresses.get(); a != nullptr; a = a->ai_next) {
    UniqueSocket s(socket(a->ai_family, a->ai_socktype, a->ai_protocol));
    if (!s) {
      error = WSAGetLastError();
      continue;
    }
    error = ConnectWithin(s.get(), a->ai_addr, static_cast<int>(a->ai_addrlen), options.connectTimeoutMs);
    if (error != 0) continue;
    DWORD timeout = options.ioTimeoutMs;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    BOOL noDelay = TRUE;  // commands are small and each waits for its answer
    setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    tcp->socket_ = std::move(s);
    *stream = std::move(tcp);
    return Status();
  }
  return Failure(Result::Unreachable,
                 error == WSAETIMEDOUT ? "the server did not answer in time" : "the server cannot be reached", error);
}

}  // namespace kvimap
