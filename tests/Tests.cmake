# Tests that the native ctest runs besides the unit tests: the tools, and
# the Windows build under Wine in one throwaway prefix per run.
set(TEST_ENV "TZ=Europe/Berlin;WINEDEBUG=-all;SOURCE_DIR=${CMAKE_SOURCE_DIR};NATIVE_DIR=${CMAKE_BINARY_DIR}")

file(GLOB TOOL_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*.sh)
foreach(script ${TOOL_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME tool.${name} COMMAND bash ${script})
  set_tests_properties(tool.${name} PROPERTIES ENVIRONMENT "${TEST_ENV}" SKIP_RETURN_CODE 77)
endforeach()

if(UPDATE_WIN32_DIR)
  set(WINE_ENV "${TEST_ENV};WIN32_DIR=${UPDATE_WIN32_DIR};WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
  add_test(NAME wine.prefix COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/prefix.sh create)
  add_test(NAME wine.prefix_cleanup COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/prefix.sh remove)
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${WINE_ENV}")
  set_tests_properties(wine.prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${WINE_ENV}")

  add_test(NAME wine.unit_tests COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/unit.sh)
  set_tests_properties(wine.unit_tests PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${WINE_ENV}" TIMEOUT 600
    RESOURCE_LOCK wineprefix)

  file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*.sh)
  foreach(script ${E2E_TESTS})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME e2e.${name} COMMAND bash ${script})
    set_tests_properties(e2e.${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${WINE_ENV}" TIMEOUT 900
      RESOURCE_LOCK wineprefix)
  endforeach()
endif()
