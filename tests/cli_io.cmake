find_package(ZLIB REQUIRED)
# The command-line renderer's readers and writers.
trellis_add_test(test_cli_io
  ${CMAKE_CURRENT_LIST_DIR}/test_cli_svg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_cli_svg_document.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_cli_keyframes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_cli_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_movie_io.cpp)
target_link_libraries(test_cli_io PRIVATE trellis_cli_io PkgConfig::OpenImageIO ZLIB::ZLIB)
