# window_bench: one pass over a 100,000-record log with the real main window shown (offscreen),
# at Performance 1 and 50.
add_executable(window_bench ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp)
target_link_libraries(window_bench PRIVATE qs_ui qs_evtwriter)
