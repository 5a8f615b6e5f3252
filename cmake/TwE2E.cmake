# tw_add_e2e_test(NAME script.sh [TIMEOUT seconds])
#
# Registers a bash script as the test win32.e2e.NAME of the Windows build.
# The script runs inside the Wine session of `make test` and gets the paths
# of the programs it drives through the environment:
#   TW_TIDEWATCH_EXE  tidewatch.exe
#   TW_STANDIN_DIR    folder of the stand-in client (Kazaa.exe, Grokster.exe, Morpheus.exe)
#   TW_DRIVER_EXE     twdriver.exe
#   TW_SOURCE_DIR     the source tree;  TW_BUILD_DIR  the Windows build tree
#   TW_E2E_LIB        tests/e2e/lib.sh, to be sourced first
# Tests share one desktop, so they never run in parallel (RESOURCE_LOCK).
# A script that exits with 77 is reported as skipped.
function(tw_add_e2e_test name script)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(E2E "" "TIMEOUT" "" ${ARGN})
  if(NOT E2E_TIMEOUT)
    set(E2E_TIMEOUT 180)
  endif()
  get_filename_component(script_path ${script} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(test win32.e2e.${name})
  add_test(NAME ${test} COMMAND bash ${script_path})
  set_tests_properties(${test} PROPERTIES
    RESOURCE_LOCK wine_desktop
    TIMEOUT ${E2E_TIMEOUT}
    SKIP_RETURN_CODE 77
    ENVIRONMENT "TW_TIDEWATCH_EXE=$<TARGET_FILE:tidewatch>;TW_STANDIN_DIR=${CMAKE_BINARY_DIR}/standin;TW_DRIVER_EXE=${CMAKE_BINARY_DIR}/tests/e2e/twdriver.exe;TW_SOURCE_DIR=${PROJECT_SOURCE_DIR};TW_BUILD_DIR=${CMAKE_BINARY_DIR};TW_E2E_LIB=${PROJECT_SOURCE_DIR}/tests/e2e/lib.sh")
endfunction()
