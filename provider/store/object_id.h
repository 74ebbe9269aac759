// Ids of stores, folders and messages: 16 random bytes, written as 32
// lower-case hexadecimal digits in the store's files and file names.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace provider {

using ObjectId = std::array<uint8_t, 16>;

ObjectId NewObjectId();
std::string ObjectIdText(const ObjectId& id);
// Upper-case digits are taken too.
bool ParseObjectId(const char* text, size_t length, ObjectId& id);
bool ParseObjectId(const std::string& hex, ObjectId& id);

// 128 bits derived from bytes (two FNV-1a hashes): a stable id for something
// known by name (the user, a store or folder on a server).
ObjectId DeriveKey(const std::vector<uint8_t>& bytes);

// Ids are random, but for a message's first digits (its bucket): their last
// bytes make a good hash.
struct ObjectIdHash {
  size_t operator()(const ObjectId& id) const noexcept;
};

}  // namespace provider
