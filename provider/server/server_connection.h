// One logged-on IMAP connection, shared by a server store and its drafts:
// one command at a time under its lock. It never reconnects by itself: a
// connection that was lost stays lost until Reconnect, so nothing is sent
// twice and a failed posting is reported, never retried behind the caller.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include <kvimap/imap_client.h>

#include "profiles.h"
#include "store_result.h"

namespace provider {

// The category of a failure as the store interface reports it.
StoreResult ServerResult(const kvimap::Status& status);

class ServerConnection {
 public:
  ServerConnection(const ServerConfig& config, std::wstring password);
  ~ServerConnection();  // logs out
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // Connects and logs on when not connected (or the connection was lost).
  StoreResult Reconnect();
  // Runs body with the logged-on client; NetworkError when not connected.
  StoreResult Use(const std::function<kvimap::Status(kvimap::ImapClient&)>& body);

  const ServerConfig& config() const { return config_; }

 private:
  StoreResult ReconnectLocked();

  ServerConfig config_;
  std::wstring password_;
  std::mutex lock_;
  kvimap::ImapClient client_;
  bool connected_ = false;
};

}  // namespace provider
