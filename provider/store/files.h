// File-system steps with one convention: every function reports success as a
// bool or an enum, keeps no handle open past its return, and never throws
// anything but std::bad_alloc.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <kvcommon/unique_resource.h>

namespace provider {

std::wstring GetEnvironmentText(const wchar_t* name);

enum class FileRead { Ok, Missing, TooLarge, Failed };
// Reads a file of at most 64 MiB. Readers share delete access, so a writer
// can replace the file while it is being read.
FileRead ReadWholeFile(const std::wstring& path, std::string& bytes);

// Writes a temporary file beside the target, flushes it, and moves it over the
// target in one step.
bool WriteFileAtomically(const std::wstring& path, const std::string& bytes);
// Moves a finished file over its target in one step; the file is deleted when
// that fails.
bool MoveIntoPlace(const std::wstring& from, const std::wstring& to);
// A name for a temporary file beside path that no other writer uses, in this
// process or another, whichever copy of this library it runs.
std::wstring TemporaryNameBeside(const std::wstring& path);

// Reads or writes at an offset of an open file through its file pointer (the
// handle's user must not share it between threads). Not with an OVERLAPPED:
// Wine reports each such call to its server as a completion, a round trip.
// ReadAt answers true at the end of the file too, with fewer bytes read.
bool ReadAt(HANDLE file, uint64_t offset, void* data, DWORD size, DWORD& read);
bool WriteAt(HANDLE file, uint64_t offset, const void* data, size_t size);

bool CreateDirectoryTree(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
bool FileExists(const std::wstring& path);
// Names of the subdirectories of a directory (not "." and "..").
bool ListDirectories(const std::wstring& path, std::vector<std::wstring>& names);

// An exclusive lock held on a lock file (open without sharing) for the
// lifetime of the object; the lock serialises writers of several processes.
// Waits at most timeoutMs. Taken withNote, the holder may also read and
// write the file's bytes: a note of what it is doing, left for the next
// holder when it is killed before it clears it.
class FileLock {
 public:
  FileLock(const std::wstring& lockPath, DWORD timeoutMs, bool withNote = false);
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return held_; }
  // The note the last holder left: empty when it cleared it or never wrote
  // one. A note is one line of at most 127 bytes.
  bool ReadNote(std::string& note);
  bool WriteNote(const std::string& note);
  bool ClearNote();

 private:
  kvcommon::UniqueFile file_;
  bool held_ = false;
};

}  // namespace provider
