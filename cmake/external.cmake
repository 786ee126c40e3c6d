# A nested build (ExternalProject) that runs only when one of its inputs
# changed, rather than on every build of the outer one: its build step
# depends on the files the globs find, and the globs are taken again when
# files come or go. The nested build's own tool then redoes only what changed.
include(ExternalProject)

function(trellis_external_inputs project)
  set(inputs)
  foreach(pattern IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${pattern})
    list(APPEND inputs ${found})
  endforeach()
  if(NOT inputs)
    message(FATAL_ERROR "no inputs found for ${project}: ${ARGN}")
  endif()
  ExternalProject_Add_StepDependencies(${project} build ${inputs})
endfunction()
