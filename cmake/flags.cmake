# Same results on every machine: no contraction into fused multiply-add, no
# fast-math, no tuning for the build machine.
add_compile_options(-ffp-contract=off -fno-fast-math)

# Warnings stay on in every build; turning them into errors is for CI and
# developers, so a packager's build or a newer compiler never fails on a
# warning nobody has seen yet.
option(TRELLIS_WERROR "Treat the project's warnings as errors" OFF)

# Warnings for the project's own code (not for third-party headers).
add_library(trellis_warnings INTERFACE)
target_compile_options(trellis_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  # GCC bug 105329: from GCC 12 on, std::string's inlined _M_replace (behind
  # assign, insert, replace and "text" + std::string) draws a -Wrestrict
  # false positive at -O2 and -O3.
  target_compile_options(trellis_warnings INTERFACE -Wno-restrict)
endif()
if(TRELLIS_WERROR)
  target_compile_options(trellis_warnings INTERFACE -Werror)
endif()

if(TRELLIS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
