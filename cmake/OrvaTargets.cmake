# Helpers shared by the areas: tests and fuzz targets.

# orva_add_gtest(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>] [LABELS <labels...>])
# A GoogleTest executable whose cases appear one by one in ctest.
function(orva_add_gtest name)
  if(ORVA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(props)
  if(T_ENV)
    list(APPEND props ENVIRONMENT "${T_ENV}")
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 30
    PROPERTIES ${props})
endfunction()

# orva_add_fuzzer(<name> SOURCES <files...> LIBS <targets...> [CORPUS <dir>])
# With ORVA_FUZZ the target is a libFuzzer binary. Otherwise it is linked with
# a replay driver and ctest runs it over its seed corpus, so every fuzz target
# builds and its seeds pass in the ordinary test run.
function(orva_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  if(ORVA_FUZZ)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_property(GLOBAL APPEND PROPERTY ORVA_FUZZERS ${name})
    if(F_CORPUS)
      set_property(TARGET ${name} PROPERTY ORVA_CORPUS "${F_CORPUS}")
    endif()
  else()
    target_sources(${name} PRIVATE "${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp")
    if(F_CORPUS)
      add_test(NAME fuzz_replay.${name} COMMAND ${name} "${F_CORPUS}")
    else()
      add_test(NAME fuzz_replay.${name} COMMAND ${name})
    endif()
  endif()
endfunction()
