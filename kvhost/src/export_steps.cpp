#include "export_steps.h"

#include <psapi.h>

#include <kvcommon/unique_resource.h>

#include "../resources/resource_ids.h"
#include "interface/kve_api.h"
#include "messages.h"
#include "output.h"

std::wstring FullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
  full.resize(length < size ? length : 0);
  return full.empty() ? path : full;
}

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/:");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

double Seconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double PeakWorkingSetMiB() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<double>(counters.PeakWorkingSetSize) / (1u << 20);
}

// What a result code of the module means, for the user.
std::wstring CodeMeaning(const Messages& messages, int code) {
  switch (code) {
    case KVE_FAILED: return messages.Text(IDS_CODE_FAILED);
    case KVE_NO_MEMORY: return messages.Text(IDS_CODE_NO_MEMORY);
    case KVE_DISK_FULL: return messages.Text(IDS_CODE_DISK_FULL);
    case KVE_BAD_ARGUMENT: return messages.Text(IDS_CODE_BAD_ARGUMENT);
    case KVE_CANCELLED: return messages.Text(IDS_CODE_CANCELLED);
    case KVE_NO_STRING: return messages.Text(IDS_CODE_NO_STRING);
    default: return messages.Text(IDS_CODE_UNKNOWN);
  }
}

bool HasFileMessage(int code) { return code == KVE_FAILED || code == KVE_NO_MEMORY || code == KVE_DISK_FULL; }

void NoteSavedKind(uint16_t postingKind, bool chosen, const Messages& messages, Output& out) {
  if (chosen && (postingKind == PersonalReport || postingKind == FolderReport)) {
    out.Write(messages.Format(IDS_SAVED_KIND_POSTS_DOCUMENTS, KindName(postingKind)));
  }
}

// The posting kinds as the command line names them.
const wchar_t* KindName(uint16_t kind) {
  switch (kind) {
    case PersonalReport: return L"personal";
    case FolderReport: return L"folder";
    case ReportInstance: return L"instance";
    default: return L"?";
  }
}

// A saved options block: the whole file, which must be as long as the
// block says (a 32-bit header keeps its size at byte 16, a 64-bit one at 28).
bool ReadOptionsBlock(const std::wstring& path, std::vector<BYTE>& block, const Messages& messages, Output& err) {
  kvcommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !GetFileSizeEx(file.get(), &size)) {
    err.Write(messages.Format(IDS_OPTIONS_FILE_UNREADABLE, path.c_str(), GetLastError()));
    return false;
  }
  if (size.QuadPart < 18 || size.QuadPart > 0xFFFF) {
    err.Write(messages.Format(IDS_NOT_AN_OPTIONS_BLOCK, path.c_str()));
    return false;
  }
  block.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr) || read != block.size()) {
    err.Write(messages.Format(IDS_OPTIONS_FILE_UNREADABLE, path.c_str(), GetLastError()));
    return false;
  }
  const unsigned structSize = block[0] | (block[1] << 8u);
  const size_t sizeAt = structSize < 30 ? 16 : 28;
  const unsigned blockSize = sizeAt + 2 <= block.size() ? (block[sizeAt] | (block[sizeAt + 1] << 8u)) : 0;
  if (blockSize == 0 || blockSize != block.size()) {
    err.Write(messages.Format(IDS_NOT_AN_OPTIONS_BLOCK, path.c_str()));
    return false;
  }
  return true;
}

// Writes beside the target and moves it into place: a failure leaves no half file.
bool SaveOptionsBlock(const std::wstring& path, const void* bytes, WORD size) {
  const std::wstring aside = path + L".new";
  {
    kvcommon::UniqueFile file(
        CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) {
      DWORD error = GetLastError();
      file.reset();
      DeleteFileW(aside.c_str());
      SetLastError(error);
      return false;
    }
  }
  if (MoveFileExW(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DWORD error = GetLastError();
  DeleteFileW(aside.c_str());
  SetLastError(error);
  return false;
}

std::wstring IdentifierText(const char (&identifier)[8]) {
  std::wstring text;
  for (char c : identifier) {
    if (c == '\0') break;
    text += static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  return text;
}

void PrintDestinationEntry(const Messages& messages, Output& out, const std::wstring& identifier,
                           const std::wstring& name, const std::wstring& description) {
  out.Write(messages.Text(IDS_LABEL_IDENTIFIER) + L": " + identifier + L"\n");
  out.Write(messages.Text(IDS_LABEL_NAME) + L": " + name + L"\n");
  out.Write(messages.Text(IDS_LABEL_DESCRIPTION) + L": " + description + L"\n");
}
