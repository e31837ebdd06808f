# End-to-end tests of the Windows programs under Wine.
#
# Every such test runs through tests/e2e/run-wine-test with a private Wine
# prefix in the build tree (build/windows/wine), prepared once per ctest run by
# the "wine_setup" fixture, and a display (DISPLAY, or an Xvfb the fixture
# starts). Tests share the one wineserver, so they run one at a time.
#
#   add_wine_test(NAME name COMMAND script [args...] [TIMEOUT seconds])
#     script is run by bash with these variables set: E2E_SRC (source tree),
#     E2E_BUILD (build tree), E2E_BIN (programs), WINEPREFIX, DISPLAY, and the
#     helpers of tests/e2e/lib.sh already sourced.
#
#   add_wine_setup_hook("program.exe arguments")
#     a Wine command the fixture runs after creating the prefix, e.g. to
#     install a simulated device driver.

set(WINE_E2E_DIR ${CMAKE_BINARY_DIR}/e2e)
set_property(GLOBAL PROPERTY WINE_SETUP_HOOKS "")

function(add_wine_setup_hook hook)
  set_property(GLOBAL APPEND PROPERTY WINE_SETUP_HOOKS "${hook}")
endfunction()

function(add_wine_test)
  cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${ARG_NAME}
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/run-wine-test ${ARG_COMMAND})
  set_tests_properties(${ARG_NAME} PROPERTIES
    FIXTURES_REQUIRED wine
    RESOURCE_LOCK wine
    TIMEOUT ${ARG_TIMEOUT}
    LABELS e2e
    ENVIRONMENT "E2E_SRC=${CMAKE_SOURCE_DIR};E2E_BUILD=${CMAKE_BINARY_DIR};E2E_BIN=${CMAKE_BINARY_DIR}/bin")
endfunction()

# Called once, after every subdirectory has registered its hooks.
function(add_wine_fixture)
  get_property(hooks GLOBAL PROPERTY WINE_SETUP_HOOKS)
  set(env "E2E_SRC=${CMAKE_SOURCE_DIR};E2E_BUILD=${CMAKE_BINARY_DIR};E2E_BIN=${CMAKE_BINARY_DIR}/bin")
  string(REPLACE ";" "\n" hook_lines "${hooks}")
  file(WRITE ${WINE_E2E_DIR}/setup-hooks "${hook_lines}\n")
  add_test(NAME wine_setup COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/wine-setup ${WINE_E2E_DIR}/setup-hooks)
  set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine RESOURCE_LOCK wine TIMEOUT 600
                       LABELS e2e ENVIRONMENT "${env}")
  add_test(NAME wine_cleanup COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/wine-cleanup)
  set_tests_properties(wine_cleanup PROPERTIES FIXTURES_CLEANUP wine RESOURCE_LOCK wine TIMEOUT 120
                       LABELS e2e ENVIRONMENT "${env}")
endfunction()
