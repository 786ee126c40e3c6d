# The fuzzers' findings (fuzz/regressions/<name>/) and seeds (fuzz/corpus/<name>/)
# replayed through the same harnesses, compiled here without libFuzzer.

trellis_add_test(test_fuzz_regressions
  ${CMAKE_CURRENT_LIST_DIR}/test_fuzz_regressions.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/fuzz_effect.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/fuzz_svg_path.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/fuzz_svg_document.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/fuzz_keyframes.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/fuzz_image.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/fuzz_movie.cpp)
target_link_libraries(test_fuzz_regressions PRIVATE trellis_footage trellis_masks PkgConfig::OpenImageIO)

# One test per saved input: a new file means a new test, so the list of files
# is part of what the test binary is built from.
file(GLOB_RECURSE TRELLIS_FUZZ_INPUTS CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/fuzz/regressions/*
  ${PROJECT_SOURCE_DIR}/fuzz/corpus/*)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/test_fuzz_regressions.cpp
  PROPERTIES OBJECT_DEPENDS "${TRELLIS_FUZZ_INPUTS}")
