# Runs the runner's own test program (testing/runner_test.cpp) and fails unless it ended, within
# seconds and with a failure's exit code, having reported its failed check and its skipped one,
# each with its test's name. Its output is shown only when something is missing.
# cmake -DPROGRAM=... [-DEMULATOR=a|b|c] -P check_runner.cmake
string(REPLACE "|" ";" command "${EMULATOR}")
execute_process(COMMAND ${command} ${PROGRAM} TIMEOUT 30 OUTPUT_VARIABLE out ERROR_VARIABLE out
                RESULT_VARIABLE code)
set(expected
    "Failure\n[^\n]*\nExpected equality"
    "the failure meant to be reported"
    "skipped: Runner\\.ReportsASkip: the skip meant to be reported"
    "\\[  FAILED  \\] Runner\\.ReportsAFailure \\("
    "1 FAILED TEST")
foreach(pattern IN LISTS expected)
  if(NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "The runner did not report '${pattern}' (exit ${code}):\n${out}")
  endif()
endforeach()
if(code EQUAL 0 OR NOT code MATCHES "^[0-9]+$")
  message(FATAL_ERROR "The runner's failed check did not fail its program (exit ${code}):\n${out}")
endif()
