#include "server_connection.h"

#include <windows.h>

namespace provider {

StoreResult ServerResult(const kvimap::Status& status) {
  using kvimap::Result;
  switch (status.result) {
    case Result::Ok: return StoreResult::Ok;
    case Result::NoAccess: return StoreResult::NoAccess;
    case Result::FolderNotFound: return StoreResult::NotFound;
    case Result::AlreadyExists: return StoreResult::Collision;
    case Result::WrongLogin:
    case Result::CertificateRefused:
    case Result::TlsUnavailable: return StoreResult::LogonFailed;
    case Result::Unreachable:
    case Result::ConnectionLost:
    case Result::ProtocolError: return StoreResult::NetworkError;
    case Result::OverQuota: return StoreResult::OverQuota;
    case Result::TooBig: return StoreResult::TooBig;
    case Result::InvalidName:
    case Result::InvalidArgument: return StoreResult::InvalidName;
    case Result::SourceFailed: return StoreResult::IoError;
    case Result::OutOfMemory: return StoreResult::OutOfMemory;
    case Result::Refused: break;
  }
  return StoreResult::Refused;
}

ServerConnection::ServerConnection(const ServerConfig& config, std::wstring password)
    : config_(config), password_(std::move(password)) {}

ServerConnection::~ServerConnection() {
  if (connected_) (void)client_.Logout();
  SecureZeroMemory(&password_[0], password_.size() * sizeof(wchar_t));
}

StoreResult ServerConnection::Reconnect() {
  std::lock_guard<std::mutex> guard(lock_);
  return ReconnectLocked();
}

StoreResult ServerConnection::ReconnectLocked() {
  if (connected_) return StoreResult::Ok;
  kvimap::ConnectOptions options;
  options.host = config_.host;
  options.port = config_.EffectivePort();
  options.security = config_.security == ServerSecurity::Tls        ? kvimap::Security::ImplicitTls
                     : config_.security == ServerSecurity::StartTls ? kvimap::Security::StartTls
                                                                    : kvimap::Security::None;
  options.pinnedSha256 = config_.pin;
  kvimap::Status status = client_.Connect(options);
  if (status.ok()) status = client_.Login(config_.user, password_);
  if (!status.ok()) {
    (void)client_.Logout();
    return ServerResult(status);
  }
  connected_ = true;
  return StoreResult::Ok;
}

StoreResult ServerConnection::Use(const std::function<kvimap::Status(kvimap::ImapClient&)>& body) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!connected_) return StoreResult::NetworkError;
  const kvimap::Status status = body(client_);
  const StoreResult result = ServerResult(status);
  // A lost connection stays lost until the next Reconnect.
  if (result == StoreResult::NetworkError) connected_ = false;
  return result;
}

}  // namespace provider
