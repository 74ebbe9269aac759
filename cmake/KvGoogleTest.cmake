# GoogleTest, built from Debian's source package with the cross compiler.
set(KV_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${KV_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${KV_GOOGLETEST_SOURCE} (Debian package googletest)")
endif()
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${KV_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Tests need it correct, not fast: -O1 compiles in half the time of -O2.
target_compile_options(gtest PRIVATE -O1)
target_compile_options(gmock PRIVATE -O1)

# main() for every test program: GoogleTest's own, plus a console that shows UTF-8.
add_library(kv_gtest_main STATIC ${CMAKE_CURRENT_LIST_DIR}/kv_gtest_main.cpp)
target_link_libraries(kv_gtest_main PUBLIC gtest gmock)
kv_test_compile_options(kv_gtest_main)
# The precompiled header every test program reuses: only system and
# GoogleTest headers, none that a test file configures with macros first.
target_precompile_headers(kv_gtest_main PRIVATE
  <windows.h> <gtest/gtest.h> <gmock/gmock.h>
  <algorithm> <atomic> <cstdint> <cstring> <functional> <map> <memory> <mutex> <set> <string> <thread> <vector>)
