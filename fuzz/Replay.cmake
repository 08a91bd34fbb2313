# Every native build replays the fuzz inputs: each target is linked with a
# plain main that feeds it files, and runs as tests: fuzz.<target> replays the
# corpus, fuzz.<target>.<name> the input of one past finding.
include(${CMAKE_SOURCE_DIR}/fuzz/Targets.cmake)
foreach(target ${FUZZ_TARGETS})
  add_executable(fuzz_${target}_replay fuzz/${target}.cpp fuzz/FuzzSupport.cpp fuzz/ReplayMain.cpp)
  target_link_libraries(fuzz_${target}_replay PRIVATE update_core)
  add_test(NAME fuzz.${target} COMMAND fuzz_${target}_replay ${CMAKE_SOURCE_DIR}/fuzz/corpus/${target})
  set_tests_properties(fuzz.${target} PROPERTIES ENVIRONMENT "TZ=Europe/Berlin")
  file(GLOB findings CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/regressions/${target}/*)
  foreach(finding ${findings})
    get_filename_component(name ${finding} NAME)
    add_test(NAME fuzz.${target}.${name} COMMAND fuzz_${target}_replay ${finding})
    set_tests_properties(fuzz.${target}.${name} PROPERTIES ENVIRONMENT "TZ=Europe/Berlin")
  endforeach()
endforeach()
