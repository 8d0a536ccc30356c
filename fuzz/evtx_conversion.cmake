# The conversion of a Vista-and-later record's XML text and strings into the event-560 layout,
# and the selection rule over the result.
qs_add_fuzzer(evtx_conversion ${CMAKE_CURRENT_LIST_DIR}/evtx_conversion.cpp LIBS qs_scan qs_platform)
