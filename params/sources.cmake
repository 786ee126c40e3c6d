# Sources of the effect in params/.
list(APPEND TRELLIS_EFFECT_SOURCES ${CMAKE_CURRENT_LIST_DIR}/params_setup.cpp)
list(APPEND TRELLIS_EFFECT_SOURCES ${CMAKE_CURRENT_LIST_DIR}/update_params_ui.cpp)
