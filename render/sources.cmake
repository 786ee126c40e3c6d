# Sources of the effect in render/.
list(APPEND TRELLIS_EFFECT_SOURCES ${CMAKE_CURRENT_LIST_DIR}/smart_render.cpp)
list(APPEND TRELLIS_EFFECT_SOURCES ${CMAKE_CURRENT_LIST_DIR}/pre_render.cpp)
