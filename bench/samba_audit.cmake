# Per-event speed of the full_audit log's source against the kernel audit log's, on the same saves.
add_executable(samba_audit_bench ${CMAKE_CURRENT_SOURCE_DIR}/samba_audit_bench.cpp)
target_link_libraries(samba_audit_bench PRIVATE qs_platform)
