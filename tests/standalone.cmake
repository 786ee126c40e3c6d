# The standalone host's own behaviour, driven by a scripted entry point.
trellis_add_test(standalone_tests
  ${CMAKE_CURRENT_LIST_DIR}/test_standalone_params.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_standalone_memory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_standalone_suites.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_standalone_world.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_standalone_paths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_standalone_render.cpp)
