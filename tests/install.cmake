# `cmake --install` of this build into a fresh prefix, and the installed
# trellis run from there. Labelled: its demo render is too slow for the
# sanitizer build, which leaves it out.
trellis_add_test(test_trellis_install LABEL install ${CMAKE_CURRENT_LIST_DIR}/test_trellis_install.cpp)
target_link_libraries(test_trellis_install PRIVATE trellis_cli_app)
target_compile_definitions(test_trellis_install PRIVATE
  TRELLIS_CMAKE="${CMAKE_COMMAND}"
  TRELLIS_BUILD_DIR="${CMAKE_BINARY_DIR}"
  TRELLIS_VERSION="${PROJECT_VERSION}")
add_dependencies(test_trellis_install trellis)
