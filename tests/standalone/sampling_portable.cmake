# The sampler's vector paths and its portable code give the same samples,
# bit for bit, at every depth: one digest program built both ways.
foreach(variant vector portable)
  add_executable(sampling_digest_${variant} ${CMAKE_CURRENT_LIST_DIR}/sampling_digest.cpp
                 ${PROJECT_SOURCE_DIR}/standalone/sampling.cpp ${PROJECT_SOURCE_DIR}/standalone/world.cpp)
  target_include_directories(sampling_digest_${variant} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(sampling_digest_${variant} PRIVATE trellis_warnings)
endforeach()
target_compile_definitions(sampling_digest_portable PRIVATE TRELLIS_NO_SIMD=1)
add_test(NAME SamplingPortableCodeMatchesTheVectorPaths
         COMMAND sh -c "a=$(\"$0\") && b=$(\"$1\") && echo \"$a\" && [ \"$a\" = \"$b\" ] || { echo \"portable: $b\"; exit 1; }"
                 $<TARGET_FILE:sampling_digest_vector> $<TARGET_FILE:sampling_digest_portable>)
