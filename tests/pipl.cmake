# The registration resource, walked as the host walks it.
trellis_add_test(test_pipl ${CMAKE_CURRENT_LIST_DIR}/test_pipl.cpp ${PROJECT_SOURCE_DIR}/host/pipl.cpp)
