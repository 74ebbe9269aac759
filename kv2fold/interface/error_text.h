// Result codes from MAPI results, and the job's error text: the message a
// host shows after a failure, in the job's language.
#pragma once

#include <windows.h>

struct ExportJob;

// The code for a MAPI result; for -1 also a message in the job's error text
// (cancellations and the memory and disk codes leave the text alone).
int MapResult(ExportJob& job, HRESULT result) noexcept;

// Why a posting failed, as a sentence in the job's language followed by the
// code, for the results the mapping shows only as a number but a user meets:
// a source that is no disk file, a file too big for the store, the store's
// disk, storage or busy errors, and system errors (in the system's words).
// False, with text untouched, for every other result.
bool DescribeResult(const ExportJob& job, HRESULT result, wchar_t* text, size_t capacity) noexcept;

// The error text becomes string id in the job's language, or fallback (cut
// to 299 characters) when that language's set lacks the string.
void SetErrorFromResource(ExportJob& job, UINT id, const wchar_t* fallback) noexcept;

// The error text becomes text, cut to 299 characters.
void SetErrorText(ExportJob& job, const wchar_t* text) noexcept;
