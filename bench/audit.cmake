# A scan pass over a generated audit log, against ausearch on the same log.
add_executable(audit_bench ${CMAKE_CURRENT_SOURCE_DIR}/audit_bench.cpp)
target_link_libraries(audit_bench PRIVATE qs_scan qs_platform)
