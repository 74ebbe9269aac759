// Where kvhost writes: the console (UTF-8) in the program, a string in tests.
#pragma once

#include <windows.h>

#include <string>

class Output {
 public:
  virtual ~Output() = default;
  virtual void Write(const std::wstring& text) = 0;
};

// Writes UTF-8 to a standard handle, whether it is a console, a pipe or a file.
class StandardOutput : public Output {
 public:
  explicit StandardOutput(DWORD standardHandle) : handle_(GetStdHandle(standardHandle)) {}
  void Write(const std::wstring& text) override;

 private:
  HANDLE handle_;
};

class StringOutput : public Output {
 public:
  void Write(const std::wstring& text) override { text_ += text; }
  const std::wstring& text() const { return text_; }

 private:
  std::wstring text_;
};

std::string ToUtf8(const std::wstring& text);
