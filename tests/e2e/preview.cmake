# trellis preview: the page in headless Chromium.

# Skipped (77) where node, Chromium or the npm driver is missing, or
# Chromium cannot start.
find_program(TRELLIS_NODE node)
if(TRELLIS_NODE)
  add_test(NAME preview_browser
           COMMAND ${TRELLIS_NODE} ${CMAKE_CURRENT_LIST_DIR}/browser/preview.test.js $<TARGET_FILE:trellis>)
else()
  add_test(NAME preview_browser COMMAND sh -c "echo 'SKIPPED: node is not installed'; exit 77")
endif()
set_tests_properties(preview_browser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
