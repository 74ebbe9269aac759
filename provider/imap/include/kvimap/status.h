// What every operation of the IMAP library answers: a category a user can act
// on, the server's own words when it gave any, and the system's code.
#pragma once

#include <cstdint>
#include <string>

namespace kvimap {

enum class Result {
  Ok,
  NoAccess,            // NOPERM, a read-only folder
  FolderNotFound,      // TRYCREATE, NONEXISTENT
  AlreadyExists,       // ALREADYEXISTS (CREATE of a folder that is there)
  WrongLogin,          // wrong user or password (AUTHENTICATIONFAILED, a refused LOGIN)
  Unreachable,         // name not resolved, connection refused or timed out, UNAVAILABLE
  ConnectionLost,      // BYE, end of stream or a timeout in the middle of a command
  OverQuota,           // OVERQUOTA
  TooBig,              // TOOBIG, LIMIT, a message above the literal limit
  CertificateRefused,  // see CertificateProblem
  TlsUnavailable,      // the server offers no encryption, or the handshake failed
  InvalidName,         // a folder name part that holds the separator, or is empty
  InvalidArgument,     // a call the library cannot carry out as asked
  Refused,             // the server said NO for a reason we have no category for
  ProtocolError,       // a reply we cannot parse, BAD, a reply out of place
  SourceFailed,        // the data to send could not be read (file changed or unreadable)
  OutOfMemory,
};

enum class CertificateProblem { None, WrongHost, WrongPin, Expired, Untrusted, Unreadable };

struct Status {
  Result result = Result::Ok;
  CertificateProblem certificate = CertificateProblem::None;
  long systemCode = 0;     // WSA error, SECURITY_STATUS, certificate policy error
  std::string serverText;  // UTF-8: the server's text of a NO, BAD or BYE, or what failed

  Status() noexcept = default;
  explicit Status(Result r, long code = 0) noexcept : result(r), systemCode(code) {}
  bool ok() const noexcept { return result == Result::Ok; }
};

// The enumerator's name, for logs and test messages.
const char* ResultName(Result result) noexcept;
const char* CertificateProblemName(CertificateProblem problem) noexcept;

// A failure with a text; on an allocation failure only the category stays.
Status Failure(Result result, const char* text, long code = 0) noexcept;
Status Failure(Result result, const std::string& text, long code = 0) noexcept;

}  // namespace kvimap
