// File operations and their one error convention.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/file_utilities.h"
#include "platform/tests/test_support.h"

namespace {

std::string ContentOf(const std::wstring& path) {
  const kvtest::Bytes bytes = kvtest::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(FileUtilities, CodesForWindowsErrorsAccessAndSharing) {
  const DWORD errors[][2] = {
      {0, FR_OK},      {2, FR_NOT_FOUND},    {3, FR_NOT_FOUND},  {15, FR_NOT_FOUND}, {4, FR_TOO_MANY_OPEN},
      {5, FR_ACCESS},  {12, FR_ACCESS},      {19, FR_ACCESS},    {21, FR_ACCESS},    {32, FR_ACCESS},
      {33, FR_ACCESS}, {6, FR_INVALID},      {8, FR_NO_MEMORY},  {14, FR_NO_MEMORY}, {18, FR_NO_MORE_FILES},
      {25, FR_SEEK},   {38, FR_END_OF_DATA}, {39, FR_DISK_FULL}, {183, FR_EXISTS},   {87, FR_FAILED},
      {80, FR_FAILED}, {112, FR_FAILED}};
  for (const auto& row : errors) {
    SetLastError(row[0]);
    EXPECT_EQ(row[1], MapLastError()) << "Windows error " << row[0];
  }
  const DWORD access[][2] = {{OF_READ, GENERIC_READ},
                             {OF_WRITE, GENERIC_WRITE},
                             {OF_READWRITE, GENERIC_READ | GENERIC_WRITE},
                             {3, GENERIC_READ}};
  for (const auto& row : access) EXPECT_EQ(row[1], MapAccessMode(row[0])) << "access code " << row[0];
  const DWORD sharing[][2] = {{0x20, FILE_SHARE_READ},
                              {0x30, FILE_SHARE_WRITE},
                              {0x40, FILE_SHARE_READ | FILE_SHARE_WRITE},
                              {0x10, 0},
                              {0x00, 0},
                              {0x22, 0}};
  for (const auto& row : sharing) EXPECT_EQ(row[1], MapShareMode(row[0])) << "sharing code " << row[0];
}

TEST(FileUtilities, WriteSeekReadAndTheShortCounts) {
  kvtest::TempDirectory directory;
  const std::wstring path = directory.File(L"new.bin");
  HANDLE file = INVALID_HANDLE_VALUE;
  ASSERT_EQ(FR_OK, FileCreate(path.c_str(), OF_READWRITE, OF_SHARE_EXCLUSIVE, &file));
  uint16_t count = 0;
  EXPECT_EQ(FR_OK, FileWrite(file, 10, &count, "0123456789"));
  EXPECT_EQ(10, count);
  const struct {
    DWORD method;
    int32_t offset;
    uint32_t position;
  } seeks[] = {{FILE_BEGIN, 3, 3}, {FILE_CURRENT, 2, 5}, {FILE_END, -4, 6}};
  uint32_t position = 0;
  for (const auto& seek : seeks) {
    EXPECT_EQ(FR_OK, FileSeek(file, seek.method, seek.offset, &position));
    EXPECT_EQ(seek.position, position);
  }
  EXPECT_EQ(FR_FAILED, FileSeek(file, FILE_BEGIN, -1, &position)) << "before the start; not a table error";

  FileSeek(file, FILE_BEGIN, 6, &position);
  EXPECT_EQ(FR_OK, FileWrite(file, 0, &count, "")) << "writing nothing must not cut the file";
  char buffer[8] = {};
  EXPECT_EQ(FR_END_OF_DATA, FileRead(file, 8, &count, buffer)) << "4 bytes left of the 8 asked";
  EXPECT_EQ(4, count);
  EXPECT_STREQ("6789", buffer);
  EXPECT_EQ(FR_OK, FileClose(file));
  EXPECT_EQ(FR_INVALID, FileClose(file));
  EXPECT_EQ("0123456789", ContentOf(path));

  ASSERT_EQ(FR_OK, FileOpen(path.c_str(), OF_READ, OF_SHARE_DENY_NONE, &file));
  EXPECT_EQ(FR_ACCESS, FileWrite(file, 3, &count, "xyz")) << "a write the system refuses";
  EXPECT_EQ(0xFFFF, count) << "the 16-bit call's error value is stored";
  FileClose(file);
  EXPECT_EQ("0123456789", ContentOf(path));
}

TEST(FileUtilities, CreateOverAFileFailsAndOpenFailsAreNotFound) {
  kvtest::TempDirectory directory;
  const std::wstring path = directory.Write(L"data.bin", {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'});
  HANDLE file = reinterpret_cast<HANDLE>(0xdeadbeef);
  EXPECT_EQ(FR_EXISTS, FileCreate(path.c_str(), OF_READWRITE, OF_SHARE_EXCLUSIVE, &file));
  EXPECT_EQ(INVALID_HANDLE_VALUE, file);
  EXPECT_EQ("precious", ContentOf(path)) << "the existing file keeps its content";
  EXPECT_EQ(FR_NOT_FOUND, FileCreate(directory.File(L"no\\such.bin").c_str(), OF_WRITE, 0, &file));

  HANDLE holder = INVALID_HANDLE_VALUE;  // also shows that the failed create left no handle open
  ASSERT_EQ(FR_OK, FileOpen(path.c_str(), OF_READ, OF_SHARE_EXCLUSIVE, &holder));
  for (const std::wstring& attempt : {path, directory.File(L"missing.bin"), directory.File(L"no\\such.bin")}) {
    file = reinterpret_cast<HANDLE>(0xdeadbeef);
    EXPECT_EQ(FR_NOT_FOUND, FileOpen(attempt.c_str(), OF_READ, OF_SHARE_DENY_NONE, &file));
    EXPECT_EQ(INVALID_HANDLE_VALUE, file);
  }
  FileClose(holder);
}
