// Options records and blocks built byte by byte, the way a host or a 32-bit
// build lays them out, so tests check the module against the layout itself.
#pragma once

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "interface/kve_api.h"

namespace kvtest {

// The strings of a record, wide or (as a narrow host gives them) narrow.
template <typename Char>
struct OptionsTextT {
  const Char* profile;
  const Char* password;
  uint16_t postingKind;
  const Char* folder;
};
using OptionsText = OptionsTextT<wchar_t>;
using NarrowOptionsText = OptionsTextT<char>;

// A pointer-layout record of this build; the strings stay the caller's.
template <typename Char>
inline KVEDestinationOptionsT<Char> PointerRecordOf(const OptionsTextT<Char>& text) {
  KVEDestinationOptionsT<Char> record{};
  record.structSize = sizeof(KVEDestinationOptionsT<Char>);
  record.profileName.pointer = text.profile;
  record.password.pointer = text.password;
  record.postingKind = text.postingKind;
  record.folderPath.pointer = text.folder;
  record.blockSize = 0;
  return record;
}
inline KVEDestinationOptions PointerRecord(const OptionsText& text) { return PointerRecordOf(text); }
inline KVEDestinationOptionsA NarrowPointerRecord(const NarrowOptionsText& text) { return PointerRecordOf(text); }

namespace detail {
inline size_t Length(const wchar_t* text) { return wcslen(text); }
inline size_t Length(const char* text) { return strlen(text); }

// Appends text with its terminator; its offset, or 0 when absent.
template <typename Char>
inline uint32_t Append(std::vector<unsigned char>& bytes, const Char* text) {
  if (!text) return 0;
  size_t at = bytes.size();
  size_t size = (Length(text) + 1) * sizeof(Char);
  bytes.resize(at + size);
  memcpy(bytes.data() + at, text, size);
  return static_cast<uint32_t>(at);
}
}  // namespace detail

// A block as this build writes it: the native header (18 bytes in a 32-bit
// build, 30 in a 64-bit one), then the present strings (narrow ones by their
// byte length).
template <typename Char>
inline std::vector<unsigned char> NativeBlockOf(const OptionsTextT<Char>& text) {
  using Record = KVEDestinationOptionsT<Char>;
  std::vector<unsigned char> bytes(sizeof(Record));
  Record header{};
  header.structSize = sizeof(Record);
  header.postingKind = text.postingKind;
  header.profileName.offset = detail::Append(bytes, text.profile);
  header.password.offset = detail::Append(bytes, text.password);
  header.folderPath.offset = detail::Append(bytes, text.folder);
  header.blockSize = static_cast<uint16_t>(bytes.size());
  memcpy(bytes.data(), &header, sizeof header);
  return bytes;
}
inline std::vector<unsigned char> NativeBlock(const OptionsText& text) { return NativeBlockOf(text); }
inline std::vector<unsigned char> NarrowNativeBlock(const NarrowOptionsText& text) { return NativeBlockOf(text); }

// A block as a 32-bit host stores it: an 18-byte header with 32-bit offsets.
template <typename Char>
inline std::vector<unsigned char> Block32Of(const OptionsTextT<Char>& text) {
  std::vector<unsigned char> bytes(sizeof(KVEDestinationOptionsBlock32));
  KVEDestinationOptionsBlock32 header{};
  header.structSize = sizeof(KVEDestinationOptionsBlock32);
  header.postingKind = text.postingKind;
  header.profileName = detail::Append(bytes, text.profile);
  header.password = detail::Append(bytes, text.password);
  header.folderPath = detail::Append(bytes, text.folder);
  header.blockSize = static_cast<uint16_t>(bytes.size());
  memcpy(bytes.data(), &header, sizeof header);
  return bytes;
}

inline std::vector<unsigned char> Block32(const OptionsText& text) { return Block32Of(text); }

}  // namespace kvtest
