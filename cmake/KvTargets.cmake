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
#                   [WIN32_FILTER filter])
# WIN32_FILTER puts the program into the Win32 stage (label "win32"): on the
# 32-bit build it runs with that GoogleTest filter ("*" for every case), under
# emulated 32-bit Wine, where a process takes about a minute to start.
function(kv_test_program)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;WIN32_FILTER" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT KV_BUILD_TESTS)
    return()
  endif()
  # Sources may also be added later with target_sources (one program, many folders).
  add_executable(${T_NAME} ${T_SOURCES})
  kv_warnings(${T_NAME})
  target_compile_options(${T_NAME} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-old-style-cast>)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} kv_gtest_main)
  set(arguments --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(T_WIN32_FILTER)
    list(APPEND T_LABELS win32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      list(APPEND arguments --gtest_filter=${T_WIN32_FILTER})
      math(EXPR T_TIMEOUT "${T_TIMEOUT} * 5")
    endif()
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${arguments}
           WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
