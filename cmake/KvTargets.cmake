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
#   kv_test_program(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
function(kv_test_program)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT KV_BUILD_TESTS)
    return()
  endif()
  # Sources may also be added later with target_sources (one program, many folders).
  add_executable(${T_NAME} ${T_SOURCES})
  kv_warnings(${T_NAME})
  target_compile_options(${T_NAME} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-old-style-cast>)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} kv_gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no
           WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
