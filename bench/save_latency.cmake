# The time from a save through Samba to the file's comment, with quillstamp-service following the
# audit log of a private auditd (needs root; see the program's opening comment).
add_executable(save_latency_bench ${CMAKE_CURRENT_SOURCE_DIR}/save_latency_bench.cpp)
target_compile_definitions(save_latency_bench
                           PRIVATE QS_SERVICE_PROGRAM="$<TARGET_FILE:quillstamp-service>")
add_dependencies(save_latency_bench quillstamp-service)
