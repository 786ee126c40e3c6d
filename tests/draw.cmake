# Stroke painting and drawing.
trellis_add_test(test_paint ${CMAKE_CURRENT_LIST_DIR}/test_paint.cpp)
trellis_add_test(test_draw ${CMAKE_CURRENT_LIST_DIR}/test_draw.cpp)
