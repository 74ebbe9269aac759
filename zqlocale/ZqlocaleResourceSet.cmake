# zqlocale_satellite(TARGET target FILE name SOURCES file.rc...)
# Builds a satellite resource set: a resource-only DLL (no code, no entry
# point) named exactly FILE in bin/, which zqlocale loads as an image resource.
function(zqlocale_satellite)
  cmake_parse_arguments(S "" "TARGET;FILE" "SOURCES" ${ARGN})
  add_library(${S_TARGET} SHARED ${S_SOURCES})
  get_filename_component(base ${S_FILE} NAME_WE)
  get_filename_component(extension ${S_FILE} EXT)
  set_target_properties(${S_TARGET} PROPERTIES
    LINKER_LANGUAGE C PREFIX "" OUTPUT_NAME ${base} SUFFIX ${extension})
  target_link_options(${S_TARGET} PRIVATE -nostdlib -Wl,-e,0)
endfunction()
