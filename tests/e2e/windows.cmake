# The Windows library, checked from the Linux build. Where mingw-w64 is
# installed this build cross-builds NorvexTrellis.aex itself (a nested build
# in windows/), so the tests below check the library as shipped.
# TRELLIS_AEX_PATH checks one built elsewhere instead (with the Windows
# trellis_selftest.exe beside it).
find_program(TRELLIS_MINGW_CXX x86_64-w64-mingw32-g++)
find_program(TRELLIS_MINGW_OBJDUMP x86_64-w64-mingw32-objdump)
find_program(TRELLIS_WRESTOOL wrestool)
option(TRELLIS_WINDOWS "Cross-build and check the Windows library when mingw-w64 is installed" ON)
set(TRELLIS_AEX_PATH "" CACHE FILEPATH "A NorvexTrellis.aex built elsewhere, checked instead of cross-building one")

set(_trellis_aex "")
if(TRELLIS_AEX_PATH)
  set(_trellis_aex ${TRELLIS_AEX_PATH})
elseif(TRELLIS_WINDOWS AND TRELLIS_MINGW_CXX)
  include(${PROJECT_SOURCE_DIR}/cmake/external.cmake)
  set(TRELLIS_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
  set(_trellis_aex ${TRELLIS_WINDOWS_DIR}/NorvexTrellis.aex)
  ExternalProject_Add(trellis_windows
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${TRELLIS_WINDOWS_DIR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DTRELLIS_WERROR=${TRELLIS_WERROR}
      -DTRELLIS_NO_SIMD=${TRELLIS_NO_SIMD}
      -DTRELLIS_GUARDS=${TRELLIS_GUARDS}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --parallel 2 --target all trellis_selftest
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON
    BUILD_BYPRODUCTS ${_trellis_aex} ${TRELLIS_WINDOWS_DIR}/trellis_selftest.exe)
  # What the cross build reads: the effect, the stand-in host, the self-test
  # driver, the build-machine tools and the build files.
  trellis_external_inputs(trellis_windows
    ${PROJECT_SOURCE_DIR}/CMakeLists.txt ${PROJECT_SOURCE_DIR}/cmake/*
    ${PROJECT_SOURCE_DIR}/host/* ${PROJECT_SOURCE_DIR}/params/* ${PROJECT_SOURCE_DIR}/render/*
    ${PROJECT_SOURCE_DIR}/strokes/* ${PROJECT_SOURCE_DIR}/draw/* ${PROJECT_SOURCE_DIR}/standalone/*
    ${PROJECT_SOURCE_DIR}/tools/* ${CMAKE_CURRENT_LIST_DIR}/selftest.cpp)
endif()

if(_trellis_aex AND TRELLIS_MINGW_OBJDUMP AND TRELLIS_WRESTOOL)
  trellis_add_test(test_aex ${CMAKE_CURRENT_LIST_DIR}/test_aex.cpp ${PROJECT_SOURCE_DIR}/host/pipl.cpp)
  target_compile_definitions(test_aex PRIVATE
    TRELLIS_AEX="${_trellis_aex}"
    TRELLIS_OBJDUMP="${TRELLIS_MINGW_OBJDUMP}"
    TRELLIS_WRESTOOL="${TRELLIS_WRESTOOL}")
  if(TARGET trellis_windows)
    add_dependencies(test_aex trellis_windows)
  endif()
elseif(_trellis_aex)
  message(STATUS "Windows library checks off: x86_64-w64-mingw32-objdump or wrestool (icoutils) not found")
endif()

# The self-test driver renders the same scenes through both libraries; under
# wine the Windows one must print exactly what the Linux one prints.
add_executable(trellis_selftest ${CMAKE_CURRENT_LIST_DIR}/selftest.cpp)
target_link_libraries(trellis_selftest PRIVATE trellis_standalone trellis_warnings)
add_dependencies(trellis_selftest NorvexTrellis)

find_program(TRELLIS_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(TRELLIS_WINE NAMES wine64 wine)
if(_trellis_aex AND TRELLIS_WINE)
  get_filename_component(_trellis_aex_dir ${_trellis_aex} DIRECTORY)
  add_test(NAME wine_selftest
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/wine_selftest.sh
      ${TRELLIS_WINE} ${_trellis_aex_dir}/trellis_selftest.exe ${_trellis_aex}
      $<TARGET_FILE:trellis_selftest> $<TARGET_FILE:NorvexTrellis>)
  set_tests_properties(wine_selftest PROPERTIES LABELS wine TIMEOUT 600)
endif()
