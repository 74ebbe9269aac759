#include <kvimap/status.h>

namespace kvimap {

const char* ResultName(Result result) noexcept {
  switch (result) {
    case Result::Ok: return "Ok";
    case Result::NoAccess: return "NoAccess";
    case Result::FolderNotFound: return "FolderNotFound";
    case Result::AlreadyExists: return "AlreadyExists";
    case Result::WrongLogin: return "WrongLogin";
    case Result::Unreachable: return "Unreachable";
    case Result::ConnectionLost: return "ConnectionLost";
    case Result::OverQuota: return "OverQuota";
    case Result::TooBig: return "TooBig";
    case Result::CertificateRefused: return "CertificateRefused";
    case Result::TlsUnavailable: return "TlsUnavailable";
    case Result::InvalidName: return "InvalidName";
    case Result::InvalidArgument: return "InvalidArgument";
    case Result::Refused: return "Refused";
    case Result::ProtocolError: return "ProtocolError";
    case Result::SourceFailed: return "SourceFailed";
    case Result::OutOfMemory: return "OutOfMemory";
  }
  return "?";
}

const char* CertificateProblemName(CertificateProblem problem) noexcept {
  switch (problem) {
    case CertificateProblem::None: return "None";
    case CertificateProblem::WrongHost: return "WrongHost";
    case CertificateProblem::WrongPin: return "WrongPin";
    case CertificateProblem::Expired: return "Expired";
    case CertificateProblem::Untrusted: return "Untrusted";
    case CertificateProblem::Unreadable: return "Unreadable";
  }
  return "?";
}

Status Failure(Result result, const char* text, long code) noexcept {
  Status status(result, code);
  try {
    status.serverText = text;
  } catch (...) {  // the category is what matters; the text is a courtesy
  }
  return status;
}

Status Failure(Result result, const std::string& text, long code) noexcept {
  return Failure(result, text.c_str(), code);
}

}  // namespace kvimap
