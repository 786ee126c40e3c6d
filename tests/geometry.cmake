# Mask outline geometry and area sampling of the standalone host.
trellis_add_test(test_geometry LABEL sampling
  ${CMAKE_CURRENT_LIST_DIR}/test_mask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_sampling.cpp)
