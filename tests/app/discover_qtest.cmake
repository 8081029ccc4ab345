# Runs a Qt Test executable with -functions and writes one ctest test per test
# function, so that every function runs in a process of its own.
# Variables: EXE, PREFIX, OUT, ENV (semicolon-separated VAR=value), TIMEOUT.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen "${EXE}" -functions
  OUTPUT_VARIABLE listing
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${EXE} -functions failed (${result}): ${errors}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(content "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)\\(\\)$")
    set(fn "${CMAKE_MATCH_1}")
    string(APPEND content "add_test([=[${PREFIX}.${fn}]=] [=[${EXE}]=] [=[${fn}]=])\n")
    string(APPEND content "set_tests_properties([=[${PREFIX}.${fn}]=] PROPERTIES ENVIRONMENT [=[${ENV}]=] TIMEOUT ${TIMEOUT} LABELS app)\n")
  endif()
endforeach()
file(WRITE "${OUT}" "${content}")
