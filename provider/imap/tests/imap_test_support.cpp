#include "imap_test_support.h"

#include <kvimap/mailbox_name.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace kvimap_test {

class RecordingStream final : public kvimap::ByteStream {
 public:
  RecordingStream(std::unique_ptr<kvimap::ByteStream> inner, std::shared_ptr<Recording> recording)
      : inner_(std::move(inner)), recording_(std::move(recording)) {}
  kvimap::Status ReadSome(void* buffer, size_t capacity, size_t* received) noexcept override {
    if (recording_->readLimit != 0) capacity = std::min(capacity, recording_->readLimit);
    return inner_->ReadSome(buffer, capacity, received);
  }
  kvimap::Status WriteAll(const void* data, size_t size) noexcept override {
    recording_->written.append(static_cast<const char*>(data), size);
    return inner_->WriteAll(data, size);
  }
  void Close() noexcept override { inner_->Close(); }

 private:
  std::unique_ptr<kvimap::ByteStream> inner_;
  std::shared_ptr<Recording> recording_;
};

const std::map<std::string, std::string>& Servers() {
  static const std::map<std::string, std::string> settings = [] {
    std::map<std::string, std::string> values;
    const char* path = std::getenv("KV_IMAP_ENV");
    std::ifstream file(path ? path : "");
    std::string line;
    while (std::getline(file, line)) {
      size_t equals = line.find('=');
      if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
  }();
  return settings;
}

std::string Setting(const char* key) {
  auto found = Servers().find(key);
  if (found == Servers().end()) {
    ADD_FAILURE() << key << " missing: the servers are started by the CTest fixture imap_servers (KV_IMAP_ENV)";
    return std::string();
  }
  return found->second;
}

uint16_t Port(const char* key) { return static_cast<uint16_t>(std::atoi(Setting(key).c_str())); }

std::wstring Wide(const std::string& utf8) {
  std::wstring wide;
  EXPECT_TRUE(kvimap::Utf8ToUtf16(utf8, &wide).ok());
  return wide;
}

std::wstring WindowsPath(const std::string& unixPath) {
  std::wstring path = L"Z:" + Wide(unixPath);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

kvimap::Status OpenRecorded(kvimap::ImapClient& client, const std::wstring& tcpHost, uint16_t port,
                            const kvimap::ConnectOptions& options, std::shared_ptr<Recording>* recording,
                            size_t readLimit) {
  std::unique_ptr<kvimap::ByteStream> tcp;
  kvimap::Status status = kvimap::ConnectTcp(tcpHost, port, options.tcp, &tcp);
  if (!status.ok()) return status;
  *recording = std::make_shared<Recording>();
  (*recording)->readLimit = readLimit;
  return client.Open(std::make_unique<RecordingStream>(std::move(tcp), *recording), options);
}

kvimap::Status PatternSource::Read(void* buffer, size_t capacity, size_t* received) noexcept {
  size_t n = static_cast<size_t>(std::min<uint64_t>(capacity, size_ - position_));
  auto* out = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < n; ++i, ++position_) out[i] = static_cast<unsigned char>((position_ * 7 + position_ / 251) & 0xff);
  *received = n;
  return kvimap::Status();
}

std::string Describe(const kvimap::Status& status) {
  std::string text = kvimap::ResultName(status.result);
  if (status.certificate != kvimap::CertificateProblem::None)
    text += std::string("/") + kvimap::CertificateProblemName(status.certificate);
  return text + " (" + status.serverText + ", code " + std::to_string(status.systemCode) + ")";
}

}  // namespace kvimap_test
