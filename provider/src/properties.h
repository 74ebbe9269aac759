// Property values on their way out: typed as the caller asked, written into
// MAPI buffers whose strings and byte blocks are linked to the buffer, so one
// MAPIFreeBuffer releases everything.
#pragma once

#include <windows.h>

#include <mapidefs.h>
#include <mapix.h>

#include <kvcommon/mapi_owners.h>
#include <string>
#include <vector>

#include "value.h"

namespace provider {

template <typename T>
using MapiBuffer = kvcommon::UniqueMapiBuffer<T>;

std::string NarrowText(const std::wstring& text);   // ANSI code page
std::wstring WideText(const char* text);            // ANSI code page
std::wstring TextArgument(const void* text, bool unicode);

// The tag a stored value has when nobody asks for a type: strings are narrow
// unless the caller passed MAPI_UNICODE.
ULONG NaturalTag(ULONG storedTag, bool unicode);
// The value for a requested tag: converted between narrow and wide strings,
// PT_UNSPECIFIED resolved, or an error value (MAPI_E_NOT_FOUND) when the
// object has no such property of a compatible type.
Value ResolveValue(const std::vector<Value>& values, ULONG requestedTag, bool unicode);

// Writes values into dest, allocating their data onto root.
HRESULT FillPropValues(const std::vector<Value>& values, SPropValue* dest, void* root);
HRESULT AllocatePropArray(const std::vector<Value>& values, LPSPropValue* out);
HRESULT AllocateTagArray(const std::vector<ULONG>& tags, LPSPropTagArray* out);

// The GetProps rule shared by every object: all properties (tags null) or the
// requested ones, MAPI_W_ERRORS_RETURNED when any of them is an error value.
HRESULT GetPropsFrom(const std::vector<Value>& values, const SPropTagArray* tags, ULONG flags, ULONG* count,
                     LPSPropValue* out);
HRESULT GetPropListFrom(const std::vector<Value>& values, ULONG flags, LPSPropTagArray* out);

// GetLastError of every object: a MAPIERROR with a text for the result, narrow
// unless MAPI_UNICODE; S_OK and no record for results without a text.
HRESULT BuildMapiError(HRESULT result, ULONG flags, LPMAPIERROR* out);

HMODULE ProviderModule();

}  // namespace provider
