// The file list of an export description and the export request, of either
// width, as a host builds them. The object keeps its own copies of the
// strings, so the pointers it hands out live as long as it does.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "interface/kve_api.h"

namespace kvtest {

template <typename Char>
class HostFiles {
 public:
  using Strings = std::vector<std::basic_string<Char>>;

  // Each path is exported; it names its file unless names are given.
  explicit HostFiles(Strings paths, Strings names = {})
      : paths_(std::move(paths)), names_(names.empty() ? paths_ : std::move(names)) {
    files_.reserve(paths_.size());  // the pointers below stay valid
    for (size_t i = 0; i < paths_.size(); ++i) {
      files_.push_back({sizeof(KVEExportFileT<Char>), 1, names_[i].c_str()});
      filePointers_.push_back(&files_.back());
      pathPointers_.push_back(paths_[i].c_str());
    }
  }
  HostFiles(const HostFiles&) = delete;
  HostFiles& operator=(const HostFiles&) = delete;

  // info describing these files.
  KVEExportInfoT<Char> Info(KVEExportInfoT<Char> info) {
    info.fileCount = static_cast<uint16_t>(files_.size());
    info.files = filePointers_.data();
    return info;
  }
  // The request to export the paths; a count of the host's own may claim more.
  KVEExportRequestT<Char> Request() const { return Request(paths_.size()); }
  KVEExportRequestT<Char> Request(size_t count) const {
    return {sizeof(KVEExportRequestT<Char>), static_cast<uint16_t>(count), pathPointers_.data()};
  }

 private:
  Strings paths_;
  Strings names_;
  std::vector<KVEExportFileT<Char>> files_;
  std::vector<KVEExportFileT<Char>*> filePointers_;
  std::vector<const Char*> pathPointers_;
};

}  // namespace kvtest
