// What the store's file operations answer; the MAPI layer maps it to a code.
#pragma once

namespace provider {

enum class StoreResult { Ok, NotFound, Corrupt, IoError, Collision, InvalidName };

}  // namespace provider
