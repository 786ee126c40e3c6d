# Sources of the effect in strokes/.
list(APPEND TRELLIS_EFFECT_SOURCES ${CMAKE_CURRENT_LIST_DIR}/stroke_list.cpp)
list(APPEND TRELLIS_EFFECT_SOURCES ${CMAKE_CURRENT_LIST_DIR}/generate.cpp)
