qs_add_fuzzer(samba_audit_parser ${CMAKE_CURRENT_SOURCE_DIR}/samba_audit_parser.cpp LIBS qs_platform)
