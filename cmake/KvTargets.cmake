# Shared settings for every target of the project.

# The C and C++ runtimes are linked statically, so each binary stands alone beside
# the others and nothing but system DLLs has to be shipped.
add_link_options(-static -static-libgcc -static-libstdc++)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

# Warnings for code we write (not for GoogleTest).
function(kv_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wpedantic -Wshadow -Wno-unknown-pragmas -Wno-missing-field-initializers>
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast -Wno-cast-function-type>)
  if(KV_WERROR)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)
  endif()
endfunction()

# A GoogleTest program registered as one CTest test: one Wine process runs all
# of its cases, because starting a process is the expensive part under Wine.
#   kv_test_program(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s]
#                   [EMULATED_FILTER filter])
# EMULATED_FILTER also puts the program into the Win32 stage where 32-bit
# programs run through qemu-user (label "emulated"), where a process takes
# about a minute to start: there it runs with that GoogleTest filter ("*" for
# every case), which scripts/wine-run32 applies only under emulation. Where
# the kernel runs 32-bit code itself, the Win32 stage runs every test in full.
# Test programs are built with -O1 over one precompiled header (Windows,
# GoogleTest, the standard library), which halves their compile time.
function(kv_test_program)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;EMULATED_FILTER" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT KV_BUILD_TESTS)
    return()
  endif()
  # Sources may also be added later with target_sources (one program, many folders).
  add_executable(${T_NAME} ${T_SOURCES})
  kv_test_compile_options(${T_NAME})
  target_precompile_headers(${T_NAME} REUSE_FROM kv_gtest_main)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} kv_gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 5")
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no
           WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  if(T_EMULATED_FILTER)
    list(APPEND T_LABELS emulated)
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "KV_EMULATED_GTEST_FILTER=${T_EMULATED_FILTER}")
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# Warnings and code generation of test code: every test program and what
# shares its precompiled header must compile with the same options.
function(kv_test_compile_options target)
  kv_warnings(${target})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-old-style-cast -O1>)
endfunction()
