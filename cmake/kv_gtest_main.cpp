// Entry point of every test program.
#include <windows.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // Tests print UTF-8 text (German strings, hostile folder names).
  SetConsoleOutputCP(CP_UTF8);
  // A failed test must not stop the run with an error box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
