// What kvhost's wide and narrow drivers share: paths, the options file,
// what a result code means, the clock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class Messages;
class Output;

std::wstring FullPath(const std::wstring& path);
// The part after the last "\", "/" or ":".
std::wstring FileNameOf(const std::wstring& path);
double Seconds();
double PeakWorkingSetMiB();

// What a result code of the module means, for the user.
std::wstring CodeMeaning(const Messages& messages, int code);
// Whether an export's code comes with the module's message about a file.
bool HasFileMessage(int code);
// After saving options a user chose in the dialogs: a personal or folder
// report kind posts documents when exported again from them, without the
// report name dialog.
void NoteSavedKind(uint16_t postingKind, bool chosen, const Messages& messages, Output& out);
// The posting kinds as the command line names them.
const wchar_t* KindName(uint16_t kind);
// The destination list's identifier: single-byte characters up to the first zero.
std::wstring IdentifierText(const char (&identifier)[8]);
// One entry of the destination list: identifier, name and description lines.
void PrintDestinationEntry(const Messages& messages, Output& out, const std::wstring& identifier,
                           const std::wstring& name, const std::wstring& description);

// A saved options block: the whole file, which must be as long as the block
// says. False (with the message written to err) otherwise.
bool ReadOptionsBlock(const std::wstring& path, std::vector<BYTE>& block, const Messages& messages, Output& err);
// Writes beside the target and moves it into place: a failure leaves no half
// file. False with the thread's last error set.
bool SaveOptionsBlock(const std::wstring& path, const void* bytes, WORD size);
