# Blend operators at every depth.
trellis_add_test(test_blend ${CMAKE_CURRENT_LIST_DIR}/test_blend.cpp)
