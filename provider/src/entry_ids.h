// Entry identifiers of stores, folders, messages and the session's user.
// Every one is 72 bytes: the MAPI flags, our provider's MAPIUID, a kind, and
// the ids of store, folder and message (zero where they do not apply). They
// hold ids only, never a path, and stay the same across sessions and processes.
#pragma once

#include <windows.h>

#include <mapidefs.h>

#include <cstdint>
#include <vector>

#include "value.h"

namespace provider {

enum class EntryKind : uint8_t { Store = 1, Folder = 2, Message = 3, User = 4 };

struct EntryId {
  EntryKind kind = EntryKind::Store;
  ObjectId store{};
  ObjectId folder{};
  ObjectId object{};  // message, or the user's key
};

constexpr ULONG kEntryIdSize = 72;
extern const MAPIUID kProviderUid;

std::vector<uint8_t> EncodeEntryId(const EntryId& id);
bool DecodeEntryId(ULONG size, const ENTRYID* bytes, EntryId& out);

}  // namespace provider
