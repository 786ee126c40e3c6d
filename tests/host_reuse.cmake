# What the host keeps between commands and frames (sampling tables, big
# blocks), and area sampling checked bit for bit against its arithmetic.
trellis_add_test(host_reuse_tests LABEL sampling
  ${CMAKE_CURRENT_LIST_DIR}/test_host_reuse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_sampling_exact.cpp)
