// The MAPI interface identifiers the module asks for, defined once. The
// module links no GUID library: they are constants.
#pragma once

#include <windows.h>

// {00020306-0000-0000-C000-000000000046}: a message store, opened by entry.
inline constexpr IID kMsgStoreInterface = {0x00020306, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {0002030C-0000-0000-C000-000000000046}: a folder, opened by entry.
inline constexpr IID kFolderInterface = {0x0002030C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {0000000C-0000-0000-C000-000000000046}: the stream of an attachment's data.
inline constexpr IID kStreamInterface = {0x0000000C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
