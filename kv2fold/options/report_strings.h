// The report comment and body texts carried as tagged records in an exported
// report file.
#pragma once

constexpr unsigned short kReportCommentTag = 0x1019;
constexpr unsigned short kReportBodyTag = 0x101A;

// Scans the file's records from the start: the last comment record before the
// body record gives *comment, the first body record gives *body (each a
// ModuleAlloc string, null for an empty value); records behind the body are
// not read, and the scan ends quietly at the first record it cannot read.
// Outs without a record are left untouched. Returns 0 when the file cannot be
// opened, else 1.
int ReadReportStrings(const wchar_t* path, wchar_t** comment, wchar_t** body) noexcept;
