qs_add_fuzzer(audit_parser ${CMAKE_CURRENT_SOURCE_DIR}/audit_parser.cpp LIBS qs_platform)
