# The trellis command, run as a subprocess, and the pieces behind it.

# A stand-in effect whose render fails from frame 2 on, for the error paths.
add_library(trellis_failing_module MODULE ${CMAKE_CURRENT_LIST_DIR}/test_trellis_failing_module.cpp)
target_include_directories(trellis_failing_module PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(trellis_failing_module PRIVATE trellis_warnings)
set_target_properties(trellis_failing_module PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden)

trellis_add_test(test_trellis_cli
  ${CMAKE_CURRENT_LIST_DIR}/test_trellis_cli.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_trellis_units.cpp)
target_link_libraries(test_trellis_cli PRIVATE trellis_cli_app)
target_compile_definitions(test_trellis_cli PRIVATE
  TRELLIS_CLI_PATH="$<TARGET_FILE:trellis>"
  TRELLIS_FAILING_MODULE_PATH="$<TARGET_FILE:trellis_failing_module>")
add_dependencies(test_trellis_cli trellis trellis_failing_module)
