#include <kvimap/tls_stream.h>

#include "windows_owners.h"

#include <schannel.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace kvimap {
namespace {

const DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                            ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                            ISC_REQ_MANUAL_CRED_VALIDATION;
const size_t kReadChunk = 16 * 1024 + 512;  // one TLS record and its framing
// fdwChecks of SSL_EXTRA_CERT_CHAIN_POLICY_PARA; wininet.h names them, and
// we do not want its declarations here.
const DWORD kIgnoreUnknownAuthority = 0x00000100;  // SECURITY_FLAG_IGNORE_UNKNOWN_CA
const DWORD kIgnoreDates = 0x00002000;             // SECURITY_FLAG_IGNORE_CERT_DATE_INVALID
const DWORD kIgnoreName = 0x00001000;              // SECURITY_FLAG_IGNORE_CERT_CN_INVALID

struct LocalFreeCall {
  void operator()(void* p) const noexcept { LocalFree(p); }
};

// The address when serverName is an IPv4 or IPv6 literal; empty otherwise.
std::string IpAddressOf(const std::wstring& serverName) {
  in_addr v4;
  in6_addr v6;
  if (InetPtonW(AF_INET, serverName.c_str(), &v4) == 1) return std::string(reinterpret_cast<const char*>(&v4), sizeof(v4));
  if (InetPtonW(AF_INET6, serverName.c_str(), &v6) == 1) return std::string(reinterpret_cast<const char*>(&v6), sizeof(v6));
  return std::string();
}

// Whether the certificate's subjectAltName lists this IP address. Wine's SSL
// policy compares DNS names only, so addresses are compared here.
bool CertificateNamesAddress(const CERT_CONTEXT* certificate, const std::string& address) {
  const CERT_INFO* info = certificate->pCertInfo;
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  if (extension == nullptr) return false;
  kvcommon::UniquePointer<void, LocalFreeCall> decoded;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, decoded.put(), &size)) {
    return false;
  }
  const auto* names = static_cast<const CERT_ALT_NAME_INFO*>(decoded.get());
  for (DWORD i = 0; i < names->cAltEntry; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
        std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0) {
      return true;
    }
  }
  return false;
}

Status CertificateFailure(CertificateProblem problem, const char* text, long code = 0) noexcept {
  Status status = Failure(Result::CertificateRefused, text, code);
  status.certificate = problem;
  return status;
}

// "AB:cd:..." or "abcd..." to 64 lower-case hex digits; empty when malformed.
std::string NormalizePin(const std::string& pin) {
  std::string hex;
  for (char c : pin) {
    if (c == ':' || c == ' ') continue;
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::string();
    hex += c;
  }
  return hex.size() == 64 ? hex : std::string();
}

// CERT_CHAIN_POLICY_SSL for serverName over the certificate's chain; with a
// pin the pin stands in for the root and we checked the dates ourselves.
Status CheckPolicy(const CERT_CONTEXT* certificate, const std::wstring& serverName, bool pinned) {
  std::string address = IpAddressOf(serverName);
  if (!address.empty() && !CertificateNamesAddress(certificate, address))
    return CertificateFailure(CertificateProblem::WrongHost, "the certificate is for another server");
  static char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {serverAuth};
  CERT_CHAIN_PARA chainPara = {};
  chainPara.cbSize = sizeof(chainPara);
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  UniqueChain chain;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                               chain.put())) {
    return CertificateFailure(CertificateProblem::Untrusted, "the certificate's chain cannot be built",
                              static_cast<long>(GetLastError()));
  }
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
  ssl.cbSize = sizeof(ssl);
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = (pinned ? kIgnoreUnknownAuthority | kIgnoreDates : 0) | (address.empty() ? 0 : kIgnoreName);
  ssl.pwszServerName = const_cast<wchar_t*>(serverName.c_str());
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof(policy);
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS result = {};
  result.cbSize = sizeof(result);
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &result)) {
    return CertificateFailure(CertificateProblem::Untrusted, "the certificate cannot be checked",
                              static_cast<long>(GetLastError()));
  }
  long error = static_cast<long>(result.dwError);
  switch (result.dwError) {
    case 0: return Status();
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return CertificateFailure(CertificateProblem::WrongHost, "the certificate is for another server", error);
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return CertificateFailure(CertificateProblem::Expired, "the certificate has expired", error);
    default:
      return CertificateFailure(CertificateProblem::Untrusted, "the certificate is not from a trusted authority",
                                error);
  }
}

Status CheckCertificate(const CERT_CONTEXT* certificate, const TlsOptions& options) {
  if (options.pinnedSha256.empty()) return CheckPolicy(certificate, options.serverName, false);
  std::string expected = NormalizePin(options.pinnedSha256);
  if (expected.empty()) return Failure(Result::InvalidArgument, "the pinned fingerprint is not 64 hex digits");
  std::string actual;
  Status hashed = CertificateSha256(certificate->pbCertEncoded, certificate->cbCertEncoded, &actual);
  if (!hashed.ok()) return hashed;
  if (actual != expected) return CertificateFailure(CertificateProblem::WrongPin, "the certificate is not the pinned one");
  // Wine's chain engine is not asked about dates here: a pinned certificate
  // is often self-signed, so the clock check is ours.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  if (CompareFileTime(&now, &certificate->pCertInfo->NotBefore) < 0)
    return CertificateFailure(CertificateProblem::Expired, "the certificate is not valid yet");
  if (CompareFileTime(&now, &certificate->pCertInfo->NotAfter) > 0)
    return CertificateFailure(CertificateProblem::Expired, "the certificate has expired");
  return CheckPolicy(certificate, options.serverName, true);
}

class TlsStream final : public ByteStream {
 public:
  TlsStream(std::unique_ptr<ByteStream> inner, const SecurityFunctionTableW* sspi) noexcept
      : inner_(std::move(inner)), sspi_(sspi) {}
  ~TlsStream() override = default;

  Status Handshake(const TlsOptions& options);
  Status ReadSome(void* buffer, size_t capacity, size_t* received) noexcept override;
  Status WriteAll(const void* data, size_t size) noexcept override;
  void Close() noexcept override;

 private:
  Status ReadMore();
  Status SendToken(const SecBuffer& token) {
    if (token.pvBuffer == nullptr || token.cbBuffer == 0) return Status();
    return inner_->WriteAll(token.pvBuffer, token.cbBuffer);
  }

  std::unique_ptr<ByteStream> inner_;
  const SecurityFunctionTableW* sspi_;
  std::wstring serverName_;
  UniqueCredentials credentials_;
  UniqueContext context_;
  SecPkgContext_StreamSizes sizes_ = {};
  std::string incoming_;  // received, not yet decrypted
  std::string plain_;     // decrypted, not yet handed out
  size_t plainPosition_ = 0;
  std::vector<char> outgoing_;
  bool peerClosed_ = false;
  bool established_ = false;
};

Status TlsStream::ReadMore() {
  size_t old = incoming_.size();
  incoming_.resize(old + kReadChunk);
  size_t got = 0;
  Status status = inner_->ReadSome(&incoming_[old], kReadChunk, &got);
  incoming_.resize(old + got);
  if (!status.ok()) return status;
  if (got == 0) return Failure(Result::ConnectionLost, "the server ended the connection inside a TLS record");
  return Status();
}

Status TlsStream::Handshake(const TlsOptions& options) {
  serverName_ = options.serverName;
  SCHANNEL_CRED schannel = {};
  schannel.dwVersion = SCHANNEL_CRED_VERSION;
  // TLS 1.2 only: under 1.3 Windows sends session tickets as SEC_I_RENEGOTIATE.
  schannel.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  // Wine never checks the certificate and Windows would check it its own way:
  // we always check it ourselves after the handshake.
  schannel.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  CredHandle credentials;
  TimeStamp expiry;
  SECURITY_STATUS ss = sspi_->AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                                        SECPKG_CRED_OUTBOUND, nullptr, &schannel, nullptr, nullptr,
                                                        &credentials, &expiry);
  if (ss != SEC_E_OK) return Failure(Result::TlsUnavailable, "TLS is not available on this system", ss);
  credentials_.reset({credentials, sspi_});

  wchar_t* target = const_cast<wchar_t*>(serverName_.c_str());
  // Bounds against a server that never finishes: handshake messages, and
  // bytes waiting for one message to be complete.
  const size_t kMaxPending = 256 * 1024;
  for (int messages = 0;;) {
    if (messages > 100 || incoming_.size() > kMaxPending)
      return Failure(Result::TlsUnavailable, "the TLS handshake does not end");
    SecBuffer in[2] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_TOKEN, &incoming_[0]},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
    ULONG attributes = 0;
    CredHandle cred = credentials_.get().value;
    bool withInput = static_cast<bool>(context_);
    if (!withInput) {
      CtxtHandle created;
      ss = sspi_->InitializeSecurityContextW(&cred, nullptr, target, kContextFlags, 0, 0, nullptr, 0, &created,
                                             &outDesc, &attributes, nullptr);
      if (ss == SEC_I_CONTINUE_NEEDED || ss == SEC_E_OK) context_.reset({created, sspi_});
    } else {
      CtxtHandle context = context_.get().value;
      ss = sspi_->InitializeSecurityContextW(&cred, &context, target, kContextFlags, 0, 0, &inDesc, 0, nullptr,
                                             &outDesc, &attributes, nullptr);
    }
    UniqueContextBuffer token({out[0].pvBuffer, out[0].pvBuffer ? sspi_ : nullptr});

    if (ss == SEC_E_INCOMPLETE_MESSAGE) {
      Status read = ReadMore();
      if (!read.ok()) return read;
      continue;
    }
    ++messages;
    if (ss == SEC_I_INCOMPLETE_CREDENTIALS) continue;  // asked for a client certificate: go on without
    if (ss != SEC_I_CONTINUE_NEEDED && ss != SEC_E_OK) {
      (void)SendToken(out[0]);  // the alert, if Schannel made one
      return Failure(Result::TlsUnavailable, "the TLS handshake failed", ss);
    }
    Status sent = SendToken(out[0]);
    if (!sent.ok()) return sent;
    // Bytes after this handshake message: the next message, or after the
    // last one, the first application data.
    if (withInput && in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0)
      incoming_.erase(0, incoming_.size() - in[1].cbBuffer);
    else if (withInput)
      incoming_.clear();
    if (ss == SEC_E_OK) break;
    if (incoming_.empty()) {
      Status read = ReadMore();
      if (!read.ok()) return read;
    }
  }

  CtxtHandle context = context_.get().value;
  ss = sspi_->QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes_);
  if (ss != SEC_E_OK) return Failure(Result::TlsUnavailable, "TLS record sizes unknown", ss);
  UniqueCertificate certificate;
  const CERT_CONTEXT* remote = nullptr;
  ss = sspi_->QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote);
  certificate.reset(remote);
  if (ss != SEC_E_OK || !certificate)
    return CertificateFailure(CertificateProblem::Unreadable, "the server sent no certificate", ss);
  established_ = true;
  return CheckCertificate(certificate.get(), options);
}

Status TlsStream::ReadSome(void* buffer, size_t capacity, size_t* received) noexcept {
  *received = 0;
  try {
    for (;;) {
      if (plainPosition_ < plain_.size()) {
        size_t n = std::min(capacity, plain_.size() - plainPosition_);
        std::memcpy(buffer, plain_.data() + plainPosition_, n);
        plainPosition_ += n;
        *received = n;
        return Status();
      }
      if (peerClosed_) return Status();
      if (!incoming_.empty()) {
        SecBuffer buffers[4] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_DATA, &incoming_[0]},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        CtxtHandle context = context_.get().value;
        SECURITY_STATUS ss = sspi_->DecryptMessage(&context, &desc, 0, nullptr);
        if (ss == SEC_E_OK || ss == SEC_I_CONTEXT_EXPIRED || ss == SEC_I_RENEGOTIATE) {
          // Decrypted in place: take the data before the extra bytes move.
          plain_.clear();
          plainPosition_ = 0;
          std::string extra;
          for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA) plain_.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA) extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
          }
          incoming_ = std::move(extra);
          if (ss == SEC_I_CONTEXT_EXPIRED) peerClosed_ = true;  // close_notify
          if (ss == SEC_I_RENEGOTIATE)
            return Failure(Result::ProtocolError, "the server asked for TLS renegotiation", ss);
          continue;
        }
        if (ss != SEC_E_INCOMPLETE_MESSAGE) return Failure(Result::ConnectionLost, "a TLS record cannot be decrypted", ss);
      }
      size_t before = incoming_.size();
      Status read = ReadMore();
      if (!read.ok()) {
        // The end of the stream between records is an end like any other.
        if (read.result == Result::ConnectionLost && before == 0 && read.systemCode == 0) return Status();
        return read;
      }
    }
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status TlsStream::WriteAll(const void* data, size_t size) noexcept {
  try {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      size_t n = std::min<size_t>(size, sizes_.cbMaximumMessage);
      outgoing_.resize(sizes_.cbHeader + n + sizes_.cbTrailer);
      char* record = outgoing_.data();
      std::memcpy(record + sizes_.cbHeader, p, n);
      SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record},
                              {static_cast<ULONG>(n), SECBUFFER_DATA, record + sizes_.cbHeader},
                              {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes_.cbHeader + n},
                              {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
      CtxtHandle context = context_.get().value;
      SECURITY_STATUS ss = sspi_->EncryptMessage(&context, 0, &desc, 0);
      if (ss != SEC_E_OK) return Failure(Result::ConnectionLost, "a TLS record cannot be encrypted", ss);
      Status sent = inner_->WriteAll(record, buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
      if (!sent.ok()) return sent;
      p += n;
      size -= n;
    }
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

void TlsStream::Close() noexcept {
  if (established_ && !peerClosed_) {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control = {sizeof(type), SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc = {SECBUFFER_VERSION, 1, &control};
    CtxtHandle context = context_.get().value;
    if (sspi_->ApplyControlToken(&context, &controlDesc) == SEC_E_OK) {
      SecBuffer out = {0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &out};
      ULONG attributes = 0;
      CredHandle cred = credentials_.get().value;
      SECURITY_STATUS ss = sspi_->InitializeSecurityContextW(&cred, &context, const_cast<wchar_t*>(serverName_.c_str()),
                                                             kContextFlags, 0, 0, nullptr, 0, nullptr, &outDesc,
                                                             &attributes, nullptr);
      UniqueContextBuffer token({out.pvBuffer, out.pvBuffer ? sspi_ : nullptr});
      if (ss == SEC_E_OK || ss == SEC_I_CONTEXT_EXPIRED) (void)SendToken(out);  // close_notify, best effort
    }
  }
  peerClosed_ = true;
  if (inner_) inner_->Close();
}

}  // namespace

Status CertificateSha256(const void* der, size_t size, std::string* hex) noexcept {
  BYTE hash[32];
  DWORD hashSize = sizeof(hash);
  if (!CryptHashCertificate2(L"SHA256", 0, nullptr, static_cast<const BYTE*>(der), static_cast<DWORD>(size), hash,
                             &hashSize) ||
      hashSize != sizeof(hash)) {
    return CertificateFailure(CertificateProblem::Unreadable, "the certificate cannot be hashed",
                              static_cast<long>(GetLastError()));
  }
  static const char kDigits[] = "0123456789abcdef";
  try {
    hex->clear();
    for (BYTE b : hash) {
      *hex += kDigits[b >> 4];
      *hex += kDigits[b & 15];
    }
    return Status();
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
}

Status StartTls(std::unique_ptr<ByteStream> inner, const TlsOptions& options,
                std::unique_ptr<ByteStream>* secured) noexcept {
  secured->reset();
  if (!inner) return Status(Result::InvalidArgument);
  const SecurityFunctionTableW* sspi = options.sspi ? options.sspi : InitSecurityInterfaceW();
  if (sspi == nullptr) return Failure(Result::TlsUnavailable, "SSPI is not available");
  std::unique_ptr<TlsStream> tls(new (std::nothrow) TlsStream(std::move(inner), sspi));
  if (!tls) return Status(Result::OutOfMemory);
  try {
    Status status = tls->Handshake(options);
    if (!status.ok()) {
      tls->Close();
      return status;
    }
  } catch (...) {
    return Status(Result::OutOfMemory);
  }
  *secured = std::move(tls);
  return Status();
}

}  // namespace kvimap
