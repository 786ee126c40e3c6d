# The trellis executable. It loads the effect module at run time (--plugin,
# TRELLIS_PLUGIN, else NorvexTrellis.so beside itself, one directory up, or
# where the install puts it relative to itself); the build puts a link to the
# module beside it.
find_package(CLI11 CONFIG REQUIRED)
find_package(Threads REQUIRED)

# Everything but main(), shared with the tests.
add_library(trellis_cli_app STATIC
  ${CMAKE_CURRENT_LIST_DIR}/session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/job.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mask_track.cpp
  ${CMAKE_CURRENT_LIST_DIR}/batch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/movie_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/demo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/about.cpp)
target_include_directories(trellis_cli_app PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(trellis_cli_app PUBLIC trellis_cli_io trellis_standalone CLI11::CLI11 Threads::Threads
                      PRIVATE trellis_warnings)
file(RELATIVE_PATH _trellis_module_from_bin /${TRELLIS_INSTALL_BINDIR} /${TRELLIS_INSTALL_MODULEDIR})
target_compile_definitions(trellis_cli_app PRIVATE
  TRELLIS_VERSION="${PROJECT_VERSION}"
  TRELLIS_MODULE_FROM_BIN="${_trellis_module_from_bin}")

add_executable(trellis ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(trellis PRIVATE trellis_cli_app trellis_warnings)
add_dependencies(trellis NorvexTrellis)
add_custom_command(TARGET trellis POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:NorvexTrellis>
          $<TARGET_FILE_DIR:trellis>/$<TARGET_FILE_NAME:NorvexTrellis>
  VERBATIM)
install(TARGETS trellis RUNTIME DESTINATION ${TRELLIS_INSTALL_BINDIR})
