# The peak memory of quillstamp-service over a sparse 4 GiB .evt log, beside idle.
add_executable(evt_memory_bench ${CMAKE_CURRENT_LIST_DIR}/evt_memory_bench.cpp)
target_link_libraries(evt_memory_bench PRIVATE qs_platform)
target_compile_definitions(evt_memory_bench
                           PRIVATE QS_SERVICE_PROGRAM="$<TARGET_FILE:quillstamp-service>")
add_dependencies(evt_memory_bench quillstamp-service)
