# Runs a replay that must fail, and checks that it failed for the expected reason, not by a crash
# or by passing. Called as:
#   cmake -DREPLAY=<program> -DFOLDERS=<folder|...> -DEXPECT=<regex> -P replay_must_fail.cmake
string(REPLACE "|" ";" FOLDERS "${FOLDERS}")
execute_process(COMMAND ${REPLAY} ${FOLDERS} RESULT_VARIABLE result OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(result EQUAL 0)
  message(FATAL_ERROR "the replay passed: ${out}${err}")
endif()
if(NOT result MATCHES "^[0-9]+$" OR NOT err MATCHES "${EXPECT}")
  message(FATAL_ERROR "the replay failed otherwise than expected (${result}): ${out}${err}")
endif()
