# Makes the loadable effect module from an object library: hidden symbols,
# one export (EntryPointFunc) held by a linker version script.
function(trellis_add_module name objects)
  add_library(${name} MODULE $<TARGET_OBJECTS:${objects}>)
  set_target_properties(${name} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    set_target_properties(${name} PROPERTIES SUFFIX ".aex")
  else()
    target_link_options(${name} PRIVATE "-Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/module.map")
    # Sanitizer runtimes come from the loading executable, so only an
    # uninstrumented module can insist that every symbol resolves at link time.
    if(NOT TRELLIS_SANITIZE)
      target_link_options(${name} PRIVATE "-Wl,--no-undefined")
    endif()
  endif()
endfunction()
