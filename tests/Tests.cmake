# Tests that the native ctest runs besides the unit tests: the tools, and
# the Windows build under Wine in one throwaway prefix per run.
set(TEST_ENV "TZ=Europe/Berlin;WINEDEBUG=-all;SOURCE_DIR=${CMAKE_SOURCE_DIR};NATIVE_DIR=${CMAKE_BINARY_DIR}")

file(GLOB TOOL_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*.sh)
foreach(script ${TOOL_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME tool.${name} COMMAND bash ${script})
  set_tests_properties(tool.${name} PROPERTIES ENVIRONMENT "${TEST_ENV}" SKIP_RETURN_CODE 77)
endforeach()

# Each Windows build gets its own prefix, its own lock and its own copy of the
# Windows tests: wine64.* and e2e64.* for the 64-bit build under 64-bit Wine,
# wine32.* and e2e32.* for the 32-bit one, which report themselves skipped
# where Wine's 32-bit loader cannot run (tests/wine/probe.sh).
file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*.sh)
foreach(bits 32 64)
  set(dir "${UPDATE_WIN${bits}_DIR}")
  if(NOT dir)
    continue()
  endif()
  set(env "${TEST_ENV};WIN_BITS=${bits};WIN_DIR=${dir};WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix${bits}")
  add_test(NAME wine${bits}.prefix COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/prefix.sh create)
  add_test(NAME wine${bits}.prefix_cleanup COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/prefix.sh remove)
  set_tests_properties(wine${bits}.prefix PROPERTIES FIXTURES_SETUP wine${bits} ENVIRONMENT "${env}" SKIP_RETURN_CODE 77)
  set_tests_properties(wine${bits}.prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine${bits} ENVIRONMENT "${env}" SKIP_RETURN_CODE 77)

  add_test(NAME wine${bits}.unit_tests COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/unit.sh)
  set_tests_properties(wine${bits}.unit_tests PROPERTIES FIXTURES_REQUIRED wine${bits} ENVIRONMENT "${env}" SKIP_RETURN_CODE 77 TIMEOUT 600
    RESOURCE_LOCK wineprefix${bits})

  foreach(script ${E2E_TESTS})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME e2e${bits}.${name} COMMAND bash ${script})
    set_tests_properties(e2e${bits}.${name} PROPERTIES FIXTURES_REQUIRED wine${bits} ENVIRONMENT "${env}" SKIP_RETURN_CODE 77 TIMEOUT 900
      RESOURCE_LOCK wineprefix${bits})
  endforeach()
endforeach()
