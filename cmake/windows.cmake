# The Windows library NorvexTrellis.aex: the effect module built by
# trellis_add_module, linked with no runtime DLLs of the compiler, exporting
# only EntryPointFunc, and carrying the host's registration list (PiPL) and
# the execution-level manifest as resources.
include(${CMAKE_CURRENT_LIST_DIR}/external.cmake)
enable_language(RC)

# The PiPL bytes come from host/pipl.h through pipl_gen, which has to run on
# the build machine: build it there as a project of its own.
set(TRELLIS_TOOLS_DIR ${CMAKE_BINARY_DIR}/tools)
set(TRELLIS_PIPL_GEN ${TRELLIS_TOOLS_DIR}/pipl_gen${CMAKE_HOST_EXECUTABLE_SUFFIX})
ExternalProject_Add(trellis_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools
  BINARY_DIR ${TRELLIS_TOOLS_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DTRELLIS_WERROR=${TRELLIS_WERROR}
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${TRELLIS_PIPL_GEN})
trellis_external_inputs(trellis_host_tools
  ${PROJECT_SOURCE_DIR}/tools/* ${PROJECT_SOURCE_DIR}/host/* ${PROJECT_SOURCE_DIR}/cmake/flags.cmake)

set(TRELLIS_PIPL_BIN ${CMAKE_BINARY_DIR}/pipl.bin)
add_custom_command(OUTPUT ${TRELLIS_PIPL_BIN}
  COMMAND ${TRELLIS_PIPL_GEN} ${TRELLIS_PIPL_BIN}
  DEPENDS trellis_host_tools ${TRELLIS_PIPL_GEN}
  COMMENT "Generating the PiPL resource"
  VERBATIM)
add_custom_target(trellis_pipl DEPENDS ${TRELLIS_PIPL_BIN})

# The resource's id and language are read from pipl.h, which the tests check
# against the built library.
file(STRINGS ${PROJECT_SOURCE_DIR}/host/pipl.h _pipl_id REGEX "kResourceId = [0-9]+")
file(STRINGS ${PROJECT_SOURCE_DIR}/host/pipl.h _pipl_lang REGEX "kResourceLanguage = [0-9]+")
string(REGEX REPLACE ".*kResourceId = ([0-9]+).*" "\\1" TRELLIS_PIPL_ID "${_pipl_id}")
string(REGEX REPLACE ".*kResourceLanguage = ([0-9]+).*" "\\1" _pipl_lang "${_pipl_lang}")
if(NOT TRELLIS_PIPL_ID MATCHES "^[0-9]+$" OR NOT _pipl_lang MATCHES "^[0-9]+$")
  message(FATAL_ERROR "cannot read the PiPL resource id and language from host/pipl.h")
endif()
math(EXPR TRELLIS_RC_PRIMARY_LANG "${_pipl_lang} & 0x3ff" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR TRELLIS_RC_SUB_LANG "${_pipl_lang} >> 10" OUTPUT_FORMAT HEXADECIMAL)
set(TRELLIS_AEX_MANIFEST ${PROJECT_SOURCE_DIR}/cmake/aex.manifest)
configure_file(${PROJECT_SOURCE_DIR}/cmake/pipl.rc.in ${CMAKE_BINARY_DIR}/pipl.rc @ONLY)

target_sources(NorvexTrellis PRIVATE ${CMAKE_BINARY_DIR}/pipl.rc ${PROJECT_SOURCE_DIR}/cmake/aex.def)
set_source_files_properties(${CMAKE_BINARY_DIR}/pipl.rc PROPERTIES
  OBJECT_DEPENDS "${TRELLIS_PIPL_BIN};${TRELLIS_AEX_MANIFEST}")
add_dependencies(NorvexTrellis trellis_pipl)
# No compiler runtime DLL beside the library, no export but the .def's, the
# same bytes from the same sources, and no debug information shipped.
target_link_options(NorvexTrellis PRIVATE
  -static -static-libgcc -static-libstdc++ -Wl,--exclude-all-symbols -Wl,--no-insert-timestamp
  $<$<NOT:$<CONFIG:Debug>>:-s>)

# The self-test driver for Windows, on the standalone host: the Linux tests
# run it under wine and compare its lines with the Linux driver's. Built on
# request only, so the library never waits for the host's code.
add_subdirectory(${PROJECT_SOURCE_DIR}/standalone ${CMAKE_BINARY_DIR}/standalone EXCLUDE_FROM_ALL)
add_executable(trellis_selftest EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tests/e2e/selftest.cpp)
target_link_libraries(trellis_selftest PRIVATE trellis_standalone trellis_warnings)
target_link_options(trellis_selftest PRIVATE -static)
add_dependencies(trellis_selftest NorvexTrellis)
