// A provider session with a folder to post into, for the benchmarks that
// post through MAPI32.DLL: profile "Bench", store "Mailbox", folder
// "Mailbox#Postings" in a work folder of the program's own.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstdint>
#include <string>
#include <vector>

#include <kvcommon/unique_resource.h>

namespace bench {

struct Provider {
  kvcommon::UniqueInterface<IMAPISession> session;
  kvcommon::UniqueInterface<IMsgStore> store;
  kvcommon::UniqueInterface<IMAPIFolder> folder;
  std::wstring folderDirectory;  // where the folder keeps its messages and index
};
constexpr const wchar_t* kProfileName = L"Bench";
constexpr const wchar_t* kFolderPath = L"Mailbox#Postings";

// Points KV_MAPI_PROFILES at folder\profiles.ini, writes the profile and its
// store (folder\store) there and finds the folder's directory.
bool PrepareProvider(const std::wstring& folder, Provider& out);
// That, then a logon.
bool LogOnProvider(const std::wstring& folder, Provider& out);
// Opens the first store and its top's first folder (or the one named) for
// writing in a session LogOnProvider made.
bool OpenPostingFolder(Provider& provider, const std::wstring& name = L"");
// Both.
bool OpenProvider(const std::wstring& folder, Provider& out);

// The session user's entry id, display name and search key: the sender the
// module gives its postings.
struct Sender {
  std::vector<uint8_t> entryId;
  std::wstring name;
  std::vector<uint8_t> searchKey;
};
bool ReadSender(IMAPISession* session, Sender& out);
// Removes every message of the folder (files and index lines; the bucket
// directories stay).
void EmptyFolder(const Provider& provider);
void EmptyFolderDirectory(const std::wstring& folderDirectory);

}  // namespace bench
