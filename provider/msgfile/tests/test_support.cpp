#include "test_support.h"

#include <kvcommon/unique_resource.h>

#include <algorithm>

namespace msgfile_test {

using kvcommon::UniqueInterface;

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes[i] = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

namespace {
HRESULT ReadStorage(IStorage* storage, const std::wstring& prefix, SystemView* view) {
  UniqueInterface<IEnumSTATSTG> elements;
  HRESULT hr = storage->EnumElements(0, nullptr, 0, elements.put());
  if (FAILED(hr)) return hr;
  STATSTG stat;
  ULONG fetched = 0;
  while (elements->Next(1, &stat, &fetched) == S_OK && fetched == 1) {
    const std::wstring name = stat.pwcsName;
    CoTaskMemFree(stat.pwcsName);
    const std::wstring path = prefix.empty() ? name : prefix + L"/" + name;
    view->order.push_back(path);
    if (stat.type == STGTY_STREAM) {
      UniqueInterface<IStream> stream;
      hr = storage->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put());
      if (FAILED(hr)) return hr;
      std::vector<uint8_t> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
      size_t done = 0;
      while (done < bytes.size()) {
        ULONG read = 0;
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(bytes.size() - done, 1u << 20));
        hr = stream->Read(bytes.data() + done, piece, &read);
        if (FAILED(hr)) return hr;
        if (read == 0) return E_FAIL;  // shorter than its directory entry says
        done += read;
      }
      view->streams[path] = std::move(bytes);
    } else if (stat.type == STGTY_STORAGE) {
      UniqueInterface<IStorage> child;
      hr = storage->OpenStorage(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, child.put());
      if (FAILED(hr)) return hr;
      STATSTG childStat;
      hr = child->Stat(&childStat, STATFLAG_NONAME);
      if (FAILED(hr)) return hr;
      view->storages[path] = childStat.clsid;
      hr = ReadStorage(child.get(), path, view);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}
}  // namespace

HRESULT ReadWithSystem(const std::wstring& path, SystemView* view) {
  UniqueInterface<IStorage> root;
  HRESULT hr = StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, root.put());
  if (FAILED(hr)) return hr;
  STATSTG stat;
  hr = root->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  view->storages[L""] = stat.clsid;
  return ReadStorage(root.get(), L"", view);
}

HRESULT WriteWithSystem(const std::wstring& path, const std::map<std::wstring, std::vector<uint8_t>>& streams,
                        size_t chunk) {
  UniqueInterface<IStorage> root;
  HRESULT hr = StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, root.put());
  if (FAILED(hr)) return hr;
  std::map<std::wstring, UniqueInterface<IStorage>> storages;
  struct Open {
    UniqueInterface<IStream> stream;
    const std::vector<uint8_t>* bytes;
    size_t done;
  };
  std::vector<Open> open;
  for (const auto& entry : streams) {
    IStorage* parent = root.get();
    const size_t slash = entry.first.find(L'/');
    std::wstring name = entry.first;
    if (slash != std::wstring::npos) {
      const std::wstring storageName = entry.first.substr(0, slash);
      name = entry.first.substr(slash + 1);
      UniqueInterface<IStorage>& storage = storages[storageName];
      if (!storage) {
        hr = root->CreateStorage(storageName.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                 storage.put());
        if (FAILED(hr)) return hr;
      }
      parent = storage.get();
    }
    Open stream{UniqueInterface<IStream>(), &entry.second, 0};
    hr = parent->CreateStream(name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                              stream.stream.put());
    if (FAILED(hr)) return hr;
    open.push_back(std::move(stream));
  }
  for (bool more = true; more;) {
    more = false;
    for (Open& stream : open) {
      if (stream.done >= stream.bytes->size()) continue;
      const size_t piece = std::min(chunk, stream.bytes->size() - stream.done);
      ULONG written = 0;
      hr = stream.stream->Write(stream.bytes->data() + stream.done, static_cast<ULONG>(piece), &written);
      if (FAILED(hr)) return hr;
      stream.done += piece;
      more = true;
    }
  }
  open.clear();
  storages.clear();
  return root->Commit(STGC_DEFAULT);
}

}  // namespace msgfile_test
