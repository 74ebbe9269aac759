# GoogleTest, built from Debian's source package with the cross compiler.
set(KV_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${KV_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${KV_GOOGLETEST_SOURCE} (Debian package googletest)")
endif()
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${KV_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# main() for every test program: GoogleTest's own, plus a console that shows UTF-8.
add_library(kv_gtest_main STATIC ${CMAKE_CURRENT_LIST_DIR}/kv_gtest_main.cpp)
target_link_libraries(kv_gtest_main PUBLIC gtest gmock)
