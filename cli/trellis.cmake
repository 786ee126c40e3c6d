# The trellis executable. It loads the effect module at run time (--plugin,
# TRELLIS_PLUGIN, else NorvexTrellis.so beside itself, one directory up, or
# where the install puts it relative to itself); the build puts a link to the
# module beside it.
find_package(CLI11 CONFIG REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json REQUIRED CONFIG)
# Debian builds the library with TLS and compression; its pkg-config flags
# keep our view of its classes the same as its own.
pkg_check_modules(HTTPLib REQUIRED IMPORTED_TARGET cpp-httplib)

# The preview page, compiled in as string constants.
set(preview_page_files
  ${CMAKE_CURRENT_LIST_DIR}/preview_page/index.html
  ${CMAKE_CURRENT_LIST_DIR}/preview_page/preview.js
  ${CMAKE_CURRENT_LIST_DIR}/preview_page/preview.css)
set(preview_page_header ${CMAKE_CURRENT_BINARY_DIR}/generated/cli/preview_page.h)
string(REPLACE ";" "|" preview_page_inputs "${preview_page_files}")
add_custom_command(
  OUTPUT ${preview_page_header}
  COMMAND ${CMAKE_COMMAND} -DOUT=${preview_page_header} "-DINPUTS=${preview_page_inputs}"
          "-DNAMES=kPreviewHtml|kPreviewJs|kPreviewCss" -P ${PROJECT_SOURCE_DIR}/cmake/embed_text.cmake
  DEPENDS ${preview_page_files} ${PROJECT_SOURCE_DIR}/cmake/embed_text.cmake
  VERBATIM)

# Everything but main(), shared with the tests.
add_library(trellis_cli_app STATIC
  ${CMAKE_CURRENT_LIST_DIR}/session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/job.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mask_track.cpp
  ${CMAKE_CURRENT_LIST_DIR}/batch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/movie_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/farm_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/demo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/about.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preview.cpp
  ${preview_page_header})
target_include_directories(trellis_cli_app PUBLIC ${PROJECT_SOURCE_DIR})
target_include_directories(trellis_cli_app PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(trellis_cli_app PUBLIC trellis_cli_io trellis_standalone trellis_farm CLI11::CLI11 Threads::Threads
                      PRIVATE nlohmann_json::nlohmann_json PkgConfig::HTTPLib trellis_warnings)
file(RELATIVE_PATH _trellis_module_from_bin /${TRELLIS_INSTALL_BINDIR} /${TRELLIS_INSTALL_MODULEDIR})
target_compile_definitions(trellis_cli_app PRIVATE
  TRELLIS_VERSION="${PROJECT_VERSION}"
  TRELLIS_MODULE_FROM_BIN="${_trellis_module_from_bin}")

add_executable(trellis ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(trellis PRIVATE trellis_cli_app trellis_warnings)
add_dependencies(trellis NorvexTrellis)
add_custom_command(TARGET trellis POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:NorvexTrellis>
          $<TARGET_FILE_DIR:trellis>/$<TARGET_FILE_NAME:NorvexTrellis>
  VERBATIM)
install(TARGETS trellis RUNTIME DESTINATION ${TRELLIS_INSTALL_BINDIR})
