// kvhost's own texts, in the user's language: English is built into the
// program, other languages are satellites beside it (kvhostDEU.DLL), served
// through zqlocale like the module's own.
#pragma once

#include <windows.h>

#include <string>

#include <zqlocale/zqlocale.h>

class Messages {
 public:
  Messages();
  ~Messages();
  Messages(const Messages&) = delete;
  Messages& operator=(const Messages&) = delete;

  // String id in the user's language; "#<id>" if it cannot be loaded.
  std::wstring Text(UINT id) const;
  // String id used as a format (wide printf: use %ls for strings).
  std::wstring Format(UINT id, ...) const;

 private:
  LocaleHandle handle_;
};
