# window_bench: the whole program (settings file, main window shown, both comment kinds written
# into real files) over a per-event log and a 100,000-record log, beside the core's pass with a
# null view; Performance 1 and 50, on the platform QT_QPA_PLATFORM names (offscreen by default).
add_executable(window_bench ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp)
target_link_libraries(window_bench PRIVATE qs_ui qs_comments qs_scan qs_platform qs_evtwriter)
