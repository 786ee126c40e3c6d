# The host boundary, the parameters, pre-render and the parameter UI, through
# the built module and the standalone host.
trellis_add_test(boundary_tests
  ${CMAKE_CURRENT_LIST_DIR}/test_boundary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_params.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_pre_render.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_params_ui.cpp)

# The module file itself: its exports and its writable data.
trellis_add_test(module_exports_test ${CMAKE_CURRENT_LIST_DIR}/test_module_exports.cpp)
