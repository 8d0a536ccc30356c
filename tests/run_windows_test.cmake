# Runs one Windows test program under its emulator (Wine) and tells ctest the outcome: a program
# that fails, fails, whatever it printed besides; one that passes and skipped cases (a service that
# Wine cannot give) prints the mark that the test's SKIP_REGULAR_EXPRESSION looks for. A skip
# regular expression over the program's own output would mark a program skipped even when another
# of its cases failed.
#   cmake -DEMULATOR=... -DPROGRAM=... [-DFILTER=...] -P run_windows_test.cmake
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${FILTER}
                OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
message("${output}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${result}")
endif()
if(output MATCHES "\\[  SKIPPED \\]")
  message("quillstamp-test-program-skipped")
endif()
