// A report posting through the provider's MAPI interfaces, for the provider's
// tests, their helper process and the benchmarks: one SetProps of the message
// values, a by-value attachment with its five values, the file's bytes in
// 4096-byte stream writes, the attachment saved, the read flag cleared, the
// message saved. Client code of its own, not the module's and not kept call
// for call with it: the module's postings are tested against the provider in
// kv2fold/mapi/tests.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace posting_client {

struct Posting {
  std::wstring postedName = L"report.pdf";
  std::wstring messageClass = L"IPM.DOCUMENT.PDF";
  bool associated = false;  // a report template
  FILETIME time = {};       // both times; zero: now
  // The sender's three values go in together or not at all.
  bool withSender = false;
  std::vector<uint8_t> senderEntryId;
  std::wstring senderName;
  std::vector<uint8_t> senderSearchKey;
  // Optional texts; empty ones are left out.
  std::wstring displayName;
  std::wstring comment;
  std::wstring body;
  // The attachment's data: a file read in 4096-byte pieces, or bytes at hand.
  std::wstring sourcePath;
  std::vector<uint8_t> bytes;
  // Called after each stream write with the bytes written so far.
  std::function<void(uint64_t)> afterWrite;
};

// The extension after the last ".", and the name cut to 8 characters before it.
std::wstring ExtensionOf(const std::wstring& name);
std::wstring ShortNameOf(const std::wstring& name);

// A series of postings that another process can check: the i-th name of a
// prefix, and the bytes a name's attachment holds (3 to 8 KiB).
std::wstring SeriesName(const std::wstring& prefix, int i);
std::vector<uint8_t> SeriesBytes(const std::wstring& name);

// Returns the first failing call's result, or S_OK; on success entryId (when
// given) receives the saved message's entry identifier.
HRESULT PostThroughMapi(IMAPIFolder* folder, const Posting& posting, std::vector<uint8_t>* entryId = nullptr);

}  // namespace posting_client
