# Tests that run cross-built programs under wine. 32-bit programs run in one
# private prefix and 64-bit programs in another (a 32-bit prefix cannot run
# them); the first test of each kind creates its prefix once for the others.
set(DELBRIN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(DELBRIN_WINE64PREFIX ${CMAKE_BINARY_DIR}/wineprefix64)
set(DELBRIN_RUN_WINE ${CMAKE_SOURCE_DIR}/tests/wine/run-wine.sh)

if(DELBRIN_WIN32)
  add_test(NAME wine_prefix
    COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/make-prefix.sh ${DELBRIN_WINEPREFIX} win32)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)
endif()
if(DELBRIN_WIN64)
  add_test(NAME wine64_prefix
    COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/make-prefix.sh ${DELBRIN_WINE64PREFIX} win64)
  set_tests_properties(wine64_prefix PROPERTIES FIXTURES_SETUP wine64)
endif()

# add_wine_test(NAME name [DISPLAY] [WIN64] COMMAND program.exe args...)
# DISPLAY runs the program in a virtual X display, for windows and dialogs;
# WIN64 runs a 64-bit program in the 64-bit prefix. The program's exit code
# is the test's result.
function(add_wine_test)
  cmake_parse_arguments(arg "DISPLAY;WIN64" "NAME" "COMMAND" ${ARGN})
  set(display)
  if(arg_DISPLAY)
    set(display --display)
  endif()
  if(arg_WIN64)
    set(prefix ${DELBRIN_WINE64PREFIX})
    set(fixture wine64)
  else()
    set(prefix ${DELBRIN_WINEPREFIX})
    set(fixture wine)
  endif()
  add_test(NAME ${arg_NAME}
    COMMAND ${DELBRIN_RUN_WINE} ${prefix} ${display} ${arg_COMMAND})
  set_tests_properties(${arg_NAME} PROPERTIES FIXTURES_REQUIRED ${fixture})
  if(arg_DISPLAY)
    # xvfb-run -a can hand two programs started together the same display,
    # which then dies under one of them when the other ends.
    set_tests_properties(${arg_NAME} PROPERTIES RESOURCE_LOCK virtual_display)
  endif()
endfunction()
