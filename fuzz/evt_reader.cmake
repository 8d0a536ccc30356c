# The .evt reader and the selection rule on arbitrary files.
qs_add_fuzzer(evt_reader ${CMAKE_CURRENT_SOURCE_DIR}/evt_reader.cpp LIBS qs_scan qs_platform)
