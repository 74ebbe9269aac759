// A message composed for a server folder: values kept by the caller, large
// values (attachment data) spooled to temporary files that the system
// deletes when they are closed (also when the process dies), and at the save
// one MIME message (kvimap::MimeMessage) of exactly known size streamed from
// the spool into one APPEND. The server stores it whole or not at all.
#pragma once

#include <memory>
#include <string>

#include "message_store.h"
#include "server_connection.h"

namespace provider {

struct DraftTarget {
  std::wstring mailbox;
  // A hidden folder (associated messages) is made when it is not there yet.
  bool createIfMissing = false;
  std::wstring senderName;    // when the message names no sender
  std::string senderAddress;  // an ASCII mail address
};

StoreResult NewServerDraft(std::shared_ptr<ServerConnection> connection, DraftTarget target,
                           std::unique_ptr<MessageDraft>& out);

}  // namespace provider
