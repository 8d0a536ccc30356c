qs_add_fuzzer(ini_reader ${CMAKE_CURRENT_LIST_DIR}/ini_reader.cpp LIBS qs_platform qs_core)
