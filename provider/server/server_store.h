// A message store whose folders and messages live on an IMAP server, behind
// the store interface (message_store.h). The store shows one server folder
// (ServerConfig::root, e.g. the public "Team/" namespace) as its top of
// information store; a folder's display name is its name on the server.
// Messages are posted as one MIME message each (one APPEND); a folder's
// associated messages (report templates) live in a hidden subfolder of it,
// kAssociatedFolderName, and the Common Views folder is the hidden
// kCommonViewsFolderName among the user's own folders. Neither is listed.
#pragma once

#include <memory>
#include <string>

#include "message_store.h"
#include "profiles.h"

namespace provider {

constexpr wchar_t kAssociatedFolderName[] = L"KV2FOLD Associated";
constexpr wchar_t kCommonViewsFolderName[] = L"KV2FOLD Common Views";

struct ServerLogon {
  std::wstring password;     // the logon's; empty: the one the profile keeps, if any
  std::wstring userName;     // the sender's name
  std::wstring userAddress;  // the sender's address when the store names none
};

// Connects, logs on and finds the store's folder on the server. out holds the
// store whenever its settings can be used, also when the server could not be
// reached (NetworkError) or lacks the folder (NotFound): Reconnect tries
// again. LogonFailed: wrong user or password, a certificate that is refused,
// no TLS where it is required.
StoreResult OpenServerStore(const ServerConfig& config, const ServerLogon& logon, std::unique_ptr<MessageStore>& out);

}  // namespace provider
