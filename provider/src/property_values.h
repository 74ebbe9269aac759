// Property values on their way in (SetProps) and between the provider and
// its message files.
#pragma once

#include <windows.h>

#include <mapidefs.h>

#include <cstdint>
#include <vector>

#include <msgfile/message_property.h>

#include "value.h"

namespace provider {

// MAPI_E_INVALID_TYPE for a type a message cannot hold (multi-valued,
// object, null, unspecified, unknown); MAPI_E_INVALID_PARAMETER for a string,
// byte block or class id whose pointer is missing.
HRESULT ValueFromPropValue(const SPropValue& prop, Value& out);

Value ValueFromFileProperty(const msgfile::Property& property);

// What a value adds to a message's or an attachment's size.
uint64_t ValueBytes(const Value& value);
// The bytes a stream of the value shows, for strings in the requested form
// (UTF-16LE or the ANSI code page), without a terminator.
std::vector<uint8_t> StreamBytes(const Value& value, ULONG requestedType);

}  // namespace provider
