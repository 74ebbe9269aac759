// Folder names on the wire: modified UTF-7 (RFC 3501 section 5.1.3), and
// paths joined with the server's separator.
#pragma once

#include <string>

#include <kvimap/status.h>

namespace kvimap {

// UTF-16 to modified UTF-7: printable ASCII stands for itself ("&" as "&-"),
// everything else goes in &...- runs of base64 over UTF-16BE with "," for
// "/". An unpaired surrogate is InvalidName.
[[nodiscard]] Status EncodeMailboxName(const std::wstring& name, std::string* encoded) noexcept;
// The reverse; InvalidName for text that is not modified UTF-7 (an open run,
// bad base64, leftover bits, an encoded printable character).
[[nodiscard]] Status DecodeMailboxName(const std::string& encoded, std::wstring* name) noexcept;

// parent + separator + child, parent empty for the top. InvalidName when
// child is empty or holds the separator; a parent that already ends with
// the separator (a namespace prefix such as "Team/") gets none added.
[[nodiscard]] Status JoinMailboxName(const std::wstring& parent, const std::wstring& child, wchar_t separator,
                                     std::wstring* joined) noexcept;

// UTF-8 and UTF-16 both ways; InvalidArgument for ill-formed input.
[[nodiscard]] Status Utf16ToUtf8(const std::wstring& text, std::string* utf8) noexcept;
[[nodiscard]] Status Utf8ToUtf16(const std::string& utf8, std::wstring* text) noexcept;

}  // namespace kvimap
