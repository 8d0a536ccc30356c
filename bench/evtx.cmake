# Scan passes over the largest real .evtx log of the shared fixtures, beside evtxexport on the
# same file. libevtx only reads, so no larger log is made.
add_executable(evtx_bench ${CMAKE_CURRENT_LIST_DIR}/evtx_bench.cpp)
target_link_libraries(evtx_bench PRIVATE qs_comments qs_scan qs_platform)
get_filename_component(QS_BENCH_FIXTURES ${PROJECT_SOURCE_DIR}/../shared/fixtures ABSOLUTE)
target_compile_definitions(evtx_bench PRIVATE QS_FIXTURES_DIR="${QS_BENCH_FIXTURES}")
