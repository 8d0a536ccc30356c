# A scan pass over a generated audit log, against ausearch on the same log.
add_executable(audit_bench ${CMAKE_CURRENT_SOURCE_DIR}/audit_bench.cpp)
# With the peak memory of the window program's pass and of the service over 300 MB logs.
target_link_libraries(audit_bench PRIVATE qs_ui qs_scan qs_platform)
target_compile_definitions(audit_bench
                           PRIVATE QS_SERVICE_PROGRAM="$<TARGET_FILE:quillstamp-service>")
add_dependencies(audit_bench quillstamp-service)
