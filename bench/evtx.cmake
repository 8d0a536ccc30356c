# Scan passes over the largest real .evtx log of the shared fixtures, beside evtxexport on the
# same file. libevtx only reads, so no larger log is made.
# The benchmark also times libevtx alone, so it links the library itself.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBEVTX REQUIRED IMPORTED_TARGET libevtx)
add_executable(evtx_bench ${CMAKE_CURRENT_LIST_DIR}/evtx_bench.cpp)
target_link_libraries(evtx_bench PRIVATE qs_comments qs_scan qs_platform PkgConfig::LIBEVTX)
get_filename_component(QS_BENCH_FIXTURES ${PROJECT_SOURCE_DIR}/../shared/fixtures ABSOLUTE)
target_compile_definitions(evtx_bench PRIVATE QS_FIXTURES_DIR="${QS_BENCH_FIXTURES}")
