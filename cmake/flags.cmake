# Same results on every machine: no contraction into fused multiply-add, no
# fast-math, no tuning for the build machine.
add_compile_options(-ffp-contract=off -fno-fast-math)

# Warnings for the project's own code (not for third-party headers).
add_library(trellis_warnings INTERFACE)
target_compile_options(trellis_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)

if(TRELLIS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
