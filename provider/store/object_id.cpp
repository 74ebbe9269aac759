#include "object_id.h"

#include <windows.h>

#include <objbase.h>

#include <cstring>

#include "text.h"

namespace provider {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

ObjectId NewObjectId() {
  GUID guid;
  ObjectId id{};
  if (SUCCEEDED(CoCreateGuid(&guid))) {
    memcpy(id.data(), &guid, id.size());
  } else {
    // Not expected; time and process make a unique enough id.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    DWORD pid = GetCurrentProcessId();
    memcpy(id.data(), &now, sizeof(now));
    memcpy(id.data() + 8, &pid, sizeof(pid));
  }
  return id;
}

std::string ObjectIdText(const ObjectId& id) { return ToHex(id.data(), id.size()); }

bool ParseObjectId(const char* text, size_t length, ObjectId& id) {
  if (length != 2 * id.size()) return false;
  for (size_t i = 0; i < id.size(); ++i) {
    int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    id[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

bool ParseObjectId(const std::string& hex, ObjectId& id) { return ParseObjectId(hex.data(), hex.size(), id); }

size_t ObjectIdHash::operator()(const ObjectId& id) const noexcept {
  size_t hash = 0;
  memcpy(&hash, id.data() + id.size() - sizeof hash, sizeof hash);
  return hash;
}

ObjectId DeriveKey(const std::vector<uint8_t>& bytes) {
  ObjectId key{};
  uint64_t seeds[2] = {0xcbf29ce484222325ull, 0x84222325cbf29ce4ull};
  for (int half = 0; half < 2; ++half) {
    uint64_t hash = seeds[half];
    for (uint8_t b : bytes) {
      hash ^= b;
      hash *= 0x100000001b3ull;
    }
    memcpy(key.data() + half * 8, &hash, 8);
  }
  return key;
}

}  // namespace provider
