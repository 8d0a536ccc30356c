# The CPU time and memory of quillstamp-service's start-up over a settings file of millions of
# stray keys.
add_executable(settings_bench ${CMAKE_CURRENT_SOURCE_DIR}/settings_bench.cpp)
target_compile_definitions(settings_bench
                           PRIVATE QS_SERVICE_PROGRAM="$<TARGET_FILE:quillstamp-service>")
add_dependencies(settings_bench quillstamp-service)
