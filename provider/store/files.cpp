#include "files.h"

#include <atomic>
#include <cstring>

#include "object_id.h"

namespace provider {

std::wstring GetEnvironmentText(const wchar_t* name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return L"";
  std::wstring value(size, L'\0');
  DWORD length = GetEnvironmentVariableW(name, &value[0], size);
  if (length == 0 || length >= size) return L"";
  value.resize(length);
  return value;
}

FileRead ReadWholeFile(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  kvcommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? FileRead::Missing : FileRead::Failed;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return FileRead::Failed;
  if (size.QuadPart > 64LL * 1024 * 1024) return FileRead::TooLarge;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &read, nullptr)) return FileRead::Failed;
    if (read == 0) break;
    done += read;
  }
  bytes.resize(done);
  return FileRead::Ok;
}

std::wstring TemporaryNameBeside(const std::wstring& path) {
  // A process may hold two copies of this code (MAPI32.DLL and a program
  // linking the store library), each with its own counter: the thread id
  // and a random part keep their names apart.
  static std::atomic<unsigned> counter{0};
  const std::string random = ObjectIdText(NewObjectId()).substr(0, 8);
  return path + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetCurrentThreadId()) + L"-" +
         std::to_wstring(++counter) + L"-" + std::wstring(random.begin(), random.end());
}

bool WriteFileAtomically(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = TemporaryNameBeside(path);
  {
    // CREATE_NEW: never write into another writer's file.
    kvcommon::UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      if (!WriteFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) || written == 0) {
        file.reset();
        DeleteFileW(temporary.c_str());
        return false;
      }
      done += written;
    }
    FlushFileBuffers(file.get());
  }
  return MoveIntoPlace(temporary, path);
}

bool MoveIntoPlace(const std::wstring& from, const std::wstring& to) {
  // A reader that has the old file open can make the replace fail for a moment.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
    Sleep(10);
  }
  DeleteFileW(from.c_str());
  return false;
}

bool DirectoryExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectoryTree(const std::wstring& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0 && path[slash - 1] != L':') {
    if (!CreateDirectoryTree(path.substr(0, slash))) return false;
  }
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

namespace {
bool SeekTo(HANDLE file, uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE;
}
}  // namespace

bool ReadAt(HANDLE file, uint64_t offset, void* data, DWORD size, DWORD& read) {
  read = 0;
  return SeekTo(file, offset) && ReadFile(file, data, size, &read, nullptr);
}

bool WriteAt(HANDLE file, uint64_t offset, const void* data, size_t size) {
  DWORD written = 0;
  return SeekTo(file, offset) && WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) &&
         written == size;
}

bool ListDirectories(const std::wstring& path, std::vector<std::wstring>& names) {
  names.clear();
  WIN32_FIND_DATAW data;
  kvcommon::UniqueFind find(FindFirstFileW((path + L"\\*").c_str(), &data));
  if (!find) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    names.push_back(name);
  } while (FindNextFileW(find.get(), &data));
  return true;
}

FileLock::FileLock(const std::wstring& lockPath, DWORD timeoutMs, bool withNote) {
  const DWORD access = withNote ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  const DWORD started = GetTickCount();
  for (;;) {
    // The file opened without sharing is the lock: one call takes it and one
    // lets it go (LockFileEx and UnlockFileEx would be two more, each a round
    // trip to the Wine server). A holder that opened it sharing everything
    // and locked it, as earlier versions did, still keeps this open out.
    file_.reset(CreateFileW(lockPath.c_str(), access, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_) {
      held_ = true;
      return;
    }
    if (GetTickCount() - started >= timeoutMs) return;
    Sleep(5);
  }
}

// A note is the bytes before the file's first line feed: writing one and
// clearing it are each one write at the start, never a truncation.
bool FileLock::ReadNote(std::string& note) {
  note.clear();
  char bytes[128];
  DWORD read = 0;
  if (!held_ || !ReadAt(file_.get(), 0, bytes, sizeof bytes, read)) return false;
  const char* end = static_cast<const char*>(memchr(bytes, '\n', read));
  note.assign(bytes, end ? static_cast<size_t>(end - bytes) : read);
  return true;
}

bool FileLock::WriteNote(const std::string& note) {
  const std::string line = note + "\n";
  return held_ && WriteAt(file_.get(), 0, line.data(), line.size());
}

bool FileLock::ClearNote() { return held_ && WriteAt(file_.get(), 0, "\n", 1); }

}  // namespace provider
