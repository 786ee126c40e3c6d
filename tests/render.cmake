# The render driver, the stroke list and random source, stroke generation.
trellis_add_test(render_tests
  ${CMAKE_CURRENT_LIST_DIR}/test_strokes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_generate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_smart_render.cpp)
