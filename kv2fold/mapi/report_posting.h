// Posting one exported file into a folder: one message (a document, or a
// folder-associated report template) with its subject, class, times, sender
// and texts, and one by-value attachment that carries the file's name and
// bytes, streamed from the file in 4096-byte reads. Also whether a report
// display name is already used in a folder.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstddef>
#include <cstdint>

// Bytes of each read from the file, and of the read buffer.
constexpr DWORD kFileReadSize = 4096;
constexpr size_t kReadBufferSize = 16384;
// Characters of the short attachment file name's buffer, terminator included.
constexpr size_t kShortFileNameCapacity = 261;

// The logged-on user as the message's sender; set only when the entry id,
// name and search key are all present.
struct PostingSender {
  ULONG entryIdCount = 0;
  const BYTE* entryId = nullptr;
  const wchar_t* name = nullptr;
  ULONG searchKeyCount = 0;
  const BYTE* searchKey = nullptr;
};

// One exported file to post.
struct PostingRequest {
  const wchar_t* sourcePath = nullptr;
  bool asReport = false;                // a folder-associated report template
  const wchar_t* postedName = nullptr;  // subject, topic and attachment name
  const wchar_t* extension = nullptr;
  wchar_t* messageClass = nullptr;      // 256 characters, upper-cased in place
  const wchar_t* reportName = nullptr;  // these three may be null
  const wchar_t* commentText = nullptr;
  const wchar_t* bodyText = nullptr;
  PostingSender sender;
};

// Posts request.sourcePath as request.postedName. Returns the result of the
// last step that ran: a message is stored only when every step, its
// attachment's save and its own final save succeeded.
HRESULT PostReportFile(IMAPIFolder* folder, const PostingRequest& request) noexcept;

// 1 when an associated message of folder has name as its display name,
// compared without regard to case; 0 otherwise, also when the folder cannot
// be read.
int IsDisplayNameUsed(IMAPIFolder* folder, const wchar_t* name) noexcept;

// The steps of a posting.
HRESULT SetMessageProperties(IMessage* message, const wchar_t* messageClass, const PostingRequest& request) noexcept;
HRESULT SetAttachmentProperties(IAttach* attachment, const wchar_t* postedName, const wchar_t* extension) noexcept;
// Writes the file's bytes into the attachment's data and saves the
// attachment; the file is never held whole in memory.
HRESULT StreamFileToAttachment(IAttach* attachment, const wchar_t* sourcePath) noexcept;
// 1 when the file is open; 0 when it cannot be opened or is not a disk file
// (then the last error is ERROR_BAD_FILE_TYPE).
int OpenSourceFile(const wchar_t* sourcePath, HANDLE* handle) noexcept;
// The file from its start into the stream, announced with SetSize first, in
// reads of kFileReadSize; the last Write's result or the first failure.
HRESULT CopyFileToStream(HANDLE file, IStream* stream, BYTE* buffer) noexcept;
// path with its file name cut to 8 characters (QuarterlyResults.pdf gives
// Quarterl.pdf); the extension stays. out holds kShortFileNameCapacity
// characters; a longer result is cut. False when memory runs out (out empty).
bool MakeShortFileName(const wchar_t* path, wchar_t* out) noexcept;
