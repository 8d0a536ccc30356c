# Finding the files of a file server's audit records in a share of 200,000 files.
add_executable(resolve_bench ${CMAKE_CURRENT_SOURCE_DIR}/resolve_bench.cpp)
target_link_libraries(resolve_bench PRIVATE qs_platform)
target_compile_definitions(resolve_bench
                           PRIVATE QS_SERVICE_PROGRAM="$<TARGET_FILE:quillstamp-service>")
add_dependencies(resolve_bench quillstamp-service)
