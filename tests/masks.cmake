# Masks from SVG documents and masks that move, through the trellis command.
trellis_add_test(test_trellis_masks ${CMAKE_CURRENT_LIST_DIR}/test_trellis_masks.cpp)
target_link_libraries(test_trellis_masks PRIVATE trellis_cli_app)
target_compile_definitions(test_trellis_masks PRIVATE TRELLIS_CLI_PATH="$<TARGET_FILE:trellis>")
add_dependencies(test_trellis_masks trellis)
