// What a store's operations answer, on disk or on a server; the MAPI layer
// gives each its code (StoreResultToHresult).
#pragma once

#include <windows.h>

namespace provider {

enum class StoreResult {
  Ok,
  NotFound,      // a folder, a message or the store itself is not there
  Corrupt,
  IoError,
  Collision,
  InvalidName,   // a name the store cannot hold
  NoAccess,      // the server's rights do not allow it
  LogonFailed,   // wrong user or password, a certificate we do not accept, no TLS
  NetworkError,  // the server cannot be reached, or went away
  OverQuota,
  TooBig,
  NotSupported,
  Refused,       // the server said no for a reason it did not name
  OutOfMemory,
};

HRESULT StoreResultToHresult(StoreResult result);

}  // namespace provider
