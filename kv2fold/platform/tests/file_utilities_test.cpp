// File operations and their one error convention: result codes for every
// Windows error, short reads and writes, and creating over an existing file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/file_utilities.h"
#include "platform/tests/test_support.h"

namespace {

std::wstring WriteFileWith(const kvtest::TempDirectory& directory, const wchar_t* name, const char* bytes) {
  std::wstring path = directory.File(name);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes, static_cast<DWORD>(strlen(bytes)), &written, nullptr);
  CloseHandle(file);
  return path;
}

std::string ContentOf(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  char buffer[256] = {};
  DWORD read = 0;
  ReadFile(file, buffer, sizeof(buffer) - 1, &read, nullptr);
  CloseHandle(file);
  return std::string(buffer, read);
}

}  // namespace

TEST(FileUtilities, EveryWindowsErrorMapsToItsCode) {
  const struct {
    DWORD error;
    FileResult expected;
  } table[] = {
      {ERROR_SUCCESS, FR_OK},
      {ERROR_FILE_NOT_FOUND, FR_NOT_FOUND},
      {ERROR_PATH_NOT_FOUND, FR_NOT_FOUND},
      {ERROR_INVALID_DRIVE, FR_NOT_FOUND},
      {ERROR_TOO_MANY_OPEN_FILES, FR_TOO_MANY_OPEN},
      {ERROR_ACCESS_DENIED, FR_ACCESS},
      {ERROR_INVALID_ACCESS, FR_ACCESS},
      {ERROR_WRITE_PROTECT, FR_ACCESS},
      {ERROR_NOT_READY, FR_ACCESS},
      {ERROR_SHARING_VIOLATION, FR_ACCESS},
      {ERROR_LOCK_VIOLATION, FR_ACCESS},
      {ERROR_INVALID_HANDLE, FR_INVALID},
      {ERROR_NOT_ENOUGH_MEMORY, FR_NO_MEMORY},
      {ERROR_OUTOFMEMORY, FR_NO_MEMORY},
      {ERROR_NO_MORE_FILES, FR_NO_MORE_FILES},
      {ERROR_SEEK, FR_SEEK},
      {ERROR_HANDLE_EOF, FR_END_OF_DATA},
      {ERROR_HANDLE_DISK_FULL, FR_DISK_FULL},
      {ERROR_ALREADY_EXISTS, FR_EXISTS},
      {ERROR_INVALID_PARAMETER, FR_FAILED},
      {ERROR_FILE_EXISTS, FR_FAILED},  // 80 is not in the table; FileCreate handles it itself
      {ERROR_DISK_FULL, FR_FAILED},
  };
  for (const auto& row : table) {
    SetLastError(row.error);
    EXPECT_EQ(row.expected, MapLastError()) << "Windows error " << row.error;
  }
}

TEST(FileUtilities, AccessAndSharingCodes) {
  const struct {
    UINT code;
    DWORD access;
  } accessTable[] = {
      {OF_READ, GENERIC_READ},
      {OF_WRITE, GENERIC_WRITE},
      {OF_READWRITE, GENERIC_READ | GENERIC_WRITE},
      {3, GENERIC_READ},
      {0x20, GENERIC_READ},
  };
  for (const auto& row : accessTable) EXPECT_EQ(row.access, MapAccessMode(row.code)) << "access code " << row.code;

  const struct {
    UINT code;
    DWORD share;
  } shareTable[] = {
      {OF_SHARE_DENY_WRITE, FILE_SHARE_READ},
      {OF_SHARE_DENY_READ, FILE_SHARE_WRITE},
      {OF_SHARE_DENY_NONE, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {OF_SHARE_EXCLUSIVE, 0},
      {0x00, 0},
      {0x22, 0},
  };
  for (const auto& row : shareTable) EXPECT_EQ(row.share, MapShareMode(row.code)) << "sharing code " << row.code;
}

TEST(FileUtilities, CreateWriteSeekAndReadBack) {
  kvtest::TempDirectory directory;
  const std::wstring path = directory.File(L"data.bin");
  HANDLE file = INVALID_HANDLE_VALUE;
  ASSERT_EQ(FR_OK, FileCreate(path.c_str(), OF_READWRITE, OF_SHARE_EXCLUSIVE, &file));
  uint16_t written = 0xBEEF;
  EXPECT_EQ(FR_OK, FileWrite(file, 10, &written, "0123456789"));
  EXPECT_EQ(10, written);

  const struct {
    DWORD method;
    int32_t offset;
    uint32_t position;
  } seeks[] = {{FILE_BEGIN, 3, 3}, {FILE_CURRENT, 2, 5}, {FILE_END, -4, 6}, {FILE_CURRENT, 0, 6}};
  for (const auto& seek : seeks) {
    uint32_t position = 0xDEADBEEF;
    EXPECT_EQ(FR_OK, FileSeek(file, seek.method, seek.offset, &position));
    EXPECT_EQ(seek.position, position) << "method " << seek.method << " offset " << seek.offset;
  }
  char buffer[8] = {};
  uint16_t read = 0xBEEF;
  EXPECT_EQ(FR_OK, FileRead(file, 3, &read, buffer));
  EXPECT_EQ(3, read);
  EXPECT_STREQ("678", buffer);

  // A seek before the start is refused by the system; its error is not in the table.
  uint32_t position = 0;
  EXPECT_EQ(FR_FAILED, FileSeek(file, FILE_BEGIN, -1, &position));
  EXPECT_EQ(FR_OK, FileClose(file));
  EXPECT_EQ("0123456789", ContentOf(path));
}

TEST(FileUtilities, ShortReadStoresWhatWasReadAndReportsTheEnd) {
  kvtest::TempDirectory directory;
  const std::wstring path = WriteFileWith(directory, L"short.bin", "abcdef");
  HANDLE file = INVALID_HANDLE_VALUE;
  ASSERT_EQ(FR_OK, FileOpen(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, &file));
  uint32_t position = 0;
  ASSERT_EQ(FR_OK, FileSeek(file, FILE_BEGIN, 4, &position));
  char buffer[4] = {'#', '#', '#', '#'};
  uint16_t read = 0xBEEF;
  EXPECT_EQ(FR_END_OF_DATA, FileRead(file, 4, &read, buffer));
  EXPECT_EQ(2, read);
  EXPECT_EQ('e', buffer[0]);
  EXPECT_EQ('f', buffer[1]);
  EXPECT_EQ(FR_END_OF_DATA, FileRead(file, 1, &read, buffer));
  EXPECT_EQ(0, read);
  FileClose(file);
}

TEST(FileUtilities, RefusedReadsAndWritesAreAccessErrors) {
  kvtest::TempDirectory directory;
  const std::wstring path = WriteFileWith(directory, L"modes.bin", "abc");
  HANDLE readOnly = INVALID_HANDLE_VALUE;
  ASSERT_EQ(FR_OK, FileOpen(path.c_str(), OF_READ, OF_SHARE_DENY_NONE, &readOnly));
  uint16_t count = 0;
  EXPECT_EQ(FR_ACCESS, FileWrite(readOnly, 3, &count, "xyz"));
  EXPECT_EQ(0xFFFF, count) << "the 16-bit call's error value is stored as the count";
  HANDLE writeOnly = INVALID_HANDLE_VALUE;
  ASSERT_EQ(FR_OK, FileOpen(path.c_str(), OF_WRITE, OF_SHARE_DENY_NONE, &writeOnly));
  char buffer[4];
  EXPECT_EQ(FR_ACCESS, FileRead(writeOnly, 3, &count, buffer));
  FileClose(readOnly);
  FileClose(writeOnly);
  EXPECT_EQ("abc", ContentOf(path));
}

TEST(FileUtilities, WritingNothingLeavesTheFileAlone) {
  kvtest::TempDirectory directory;
  const std::wstring path = WriteFileWith(directory, L"keep.bin", "keep all of this");
  HANDLE file = INVALID_HANDLE_VALUE;
  ASSERT_EQ(FR_OK, FileOpen(path.c_str(), OF_READWRITE, OF_SHARE_EXCLUSIVE, &file));
  uint32_t position = 0;
  ASSERT_EQ(FR_OK, FileSeek(file, FILE_BEGIN, 4, &position));
  uint16_t written = 0xBEEF;
  EXPECT_EQ(FR_OK, FileWrite(file, 0, &written, ""));
  EXPECT_EQ(0, written);
  FileClose(file);
  EXPECT_EQ("keep all of this", ContentOf(path));
}

TEST(FileUtilities, CreatingAnExistingFileFailsAndKeepsIt) {
  kvtest::TempDirectory directory;
  const std::wstring path = WriteFileWith(directory, L"exists.bin", "precious");
  HANDLE file = reinterpret_cast<HANDLE>(0xdeadbeef);
  EXPECT_EQ(FR_EXISTS, FileCreate(path.c_str(), OF_READWRITE, OF_SHARE_EXCLUSIVE, &file));
  EXPECT_EQ(INVALID_HANDLE_VALUE, file) << "no handle may stay open";
  EXPECT_EQ("precious", ContentOf(path));
  // Nothing holds the file: an exclusive open succeeds.
  HANDLE exclusive = INVALID_HANDLE_VALUE;
  EXPECT_EQ(FR_OK, FileOpen(path.c_str(), OF_READWRITE, OF_SHARE_EXCLUSIVE, &exclusive));
  FileClose(exclusive);
}

TEST(FileUtilities, EveryFailedOpenIsNotFound) {
  kvtest::TempDirectory directory;
  const std::wstring path = WriteFileWith(directory, L"locked.bin", "x");
  HANDLE holder = INVALID_HANDLE_VALUE;
  ASSERT_EQ(FR_OK, FileOpen(path.c_str(), OF_READ, OF_SHARE_EXCLUSIVE, &holder));
  const std::wstring cases[] = {
      path,                                   // a sharing violation
      directory.File(L"missing.bin"),         // no such file
      directory.File(L"no\\such\\dir.bin"),   // no such path
  };
  for (const std::wstring& attempt : cases) {
    HANDLE file = reinterpret_cast<HANDLE>(0xdeadbeef);
    EXPECT_EQ(FR_NOT_FOUND, FileOpen(attempt.c_str(), OF_READ, OF_SHARE_DENY_NONE, &file));
    EXPECT_EQ(INVALID_HANDLE_VALUE, file) << "the system's value is handed out";
  }
  FileClose(holder);
  // Creating in a folder that does not exist keeps the system's reason.
  HANDLE file = INVALID_HANDLE_VALUE;
  EXPECT_EQ(FR_NOT_FOUND, FileCreate(directory.File(L"no\\such.bin").c_str(), OF_WRITE, OF_SHARE_EXCLUSIVE, &file));
}

TEST(FileUtilities, ClosingTwiceIsAnInvalidHandle) {
  kvtest::TempDirectory directory;
  HANDLE file = INVALID_HANDLE_VALUE;
  ASSERT_EQ(FR_OK, FileCreate(directory.File(L"close.bin").c_str(), OF_WRITE, OF_SHARE_EXCLUSIVE, &file));
  EXPECT_EQ(FR_OK, FileClose(file));
  EXPECT_EQ(FR_INVALID, FileClose(file));
}

TEST(FileUtilities, NarrowPathOpensAndCreatesToo) {
  kvtest::TempDirectory directory;
  kvtest::ScopedNarrowCalls narrow;
  const std::wstring path = directory.File(L"narrow.bin");
  HANDLE file = INVALID_HANDLE_VALUE;
  ASSERT_EQ(FR_OK, FileCreate(path.c_str(), OF_WRITE, OF_SHARE_EXCLUSIVE, &file));
  uint16_t written = 0;
  EXPECT_EQ(FR_OK, FileWrite(file, 2, &written, "ok"));
  FileClose(file);
  ASSERT_EQ(FR_OK, FileOpen(path.c_str(), OF_READ, OF_SHARE_DENY_WRITE, &file));
  char buffer[3] = {};
  uint16_t read = 0;
  EXPECT_EQ(FR_OK, FileRead(file, 2, &read, buffer));
  EXPECT_STREQ("ok", buffer);
  FileClose(file);
}
