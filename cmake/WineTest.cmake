# Tests that run cross-built programs under wine, in a private prefix that the
# first test creates once for all the others.
set(DELBRIN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(DELBRIN_RUN_WINE ${CMAKE_SOURCE_DIR}/tests/wine/run-wine.sh)

add_test(NAME wine_prefix
  COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/make-prefix.sh ${DELBRIN_WINEPREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)

# add_wine_test(NAME name [DISPLAY] COMMAND program.exe args...)
# DISPLAY runs the program in a virtual X display, for windows and dialogs;
# the program's exit code is the test's result.
function(add_wine_test)
  cmake_parse_arguments(arg "DISPLAY" "NAME" "COMMAND" ${ARGN})
  set(display)
  if(arg_DISPLAY)
    set(display --display)
  endif()
  add_test(NAME ${arg_NAME}
    COMMAND ${DELBRIN_RUN_WINE} ${DELBRIN_WINEPREFIX} ${display} ${arg_COMMAND})
  set_tests_properties(${arg_NAME} PROPERTIES FIXTURES_REQUIRED wine)
  if(arg_DISPLAY)
    # xvfb-run -a can hand two programs started together the same display,
    # which then dies under one of them when the other ends.
    set_tests_properties(${arg_NAME} PROPERTIES RESOURCE_LOCK virtual_display)
  endif()
endfunction()
