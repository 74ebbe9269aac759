// What the IMAP tests share: the servers the fixture started, a stream that
// records what the client sends, and sources of test bytes.
#pragma once

#include <kvimap/imap_client.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

namespace kvimap_test {

// imap-test.env written by dovecot.sh (path in KV_IMAP_ENV); empty when absent.
const std::map<std::string, std::string>& Servers();
std::string Setting(const char* key);  // fails the test when missing
uint16_t Port(const char* key);
std::wstring Wide(const std::string& utf8);
std::wstring WindowsPath(const std::string& unixPath);  // through Wine's Z: drive

// Everything the client wrote, as it went to the socket (below TLS); reads
// may be cut to readLimit bytes to split TLS records and replies anywhere.
struct Recording {
  std::string written;
  size_t readLimit = 0;
};

// Connects TCP to host:port and hands the client a recording stream; the
// options' host names the certificate.
kvimap::Status OpenRecorded(kvimap::ImapClient& client, const std::wstring& tcpHost, uint16_t port,
                            const kvimap::ConnectOptions& options, std::shared_ptr<Recording>* recording,
                            size_t readLimit = 0);

// Bytes (i * 7 + i / 251) & 0xff, generated on the fly: big sources cost no memory.
class PatternSource final : public kvimap::ByteSource {
 public:
  explicit PatternSource(uint64_t size) : size_(size) {}
  uint64_t Size() const noexcept override { return size_; }
  kvimap::Status Read(void* buffer, size_t capacity, size_t* received) noexcept override;

 private:
  uint64_t size_;
  uint64_t position_ = 0;
};

// "Result (server text)" for assertion messages.
std::string Describe(const kvimap::Status& status);

}  // namespace kvimap_test
