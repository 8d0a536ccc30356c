# The direction of the dependencies between the source folders, checked on the sources:
#   cmake -DSOURCE_DIR=<a src folder> -P include_rules.cmake
# fails, naming each file and line, when a folder includes one it must not: the portable core
# (platform, core, scan, comments) never includes a front end; nothing but the Qt window includes
# Qt; nothing but the per-OS folders of platform and the Win32 window (win32ui/) include an OS
# header.
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<src folder> -P include_rules.cmake")
endif()

# Which project folders each folder may include, lowest first. A folder not named here (a new
# front end) may include every folder except the other front ends.
set(allowed_platform "platform")
set(allowed_core "platform;core")
set(allowed_scan "platform;core;scan")
set(allowed_comments "platform;core;scan;comments")
set(front_ends "ui;service;win32ui")

# Headers of the operating systems, and of the libraries that only one of them has (libevtx).
# Only src/platform/posix and src/platform/win32 may use them.
set(os_headers "unistd\\.h|fcntl\\.h|pwd\\.h|grp\\.h|langinfo\\.h|dirent\\.h|spawn\\.h|poll\\.h|"
               "signal\\.h|syslog\\.h|termios\\.h|dlfcn\\.h|sys/[a-z_/]+\\.h|linux/[a-z_/]+\\.h|"
               "netinet/[a-z_]+\\.h|arpa/[a-z_]+\\.h|windows\\.h|winbase\\.h|winnt\\.h|winuser\\.h|"
               "shellapi\\.h|shlobj\\.h|objbase\\.h|objidl\\.h|propidl\\.h|commctrl\\.h|io\\.h|"
               "libevtx\\.h|systemd/sd-[a-z]+\\.h")
string(JOIN "" os_headers ${os_headers})

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
set(faults 0)
foreach(rel ${sources})
  string(REGEX MATCH "^[^/]+" folder "${rel}")
  file(STRINGS ${SOURCE_DIR}/${rel} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line ${lines})
    set(fault "")
    if(line MATCHES "#[ \t]*include[ \t]*\"([a-z0-9_]+)/")
      set(target "${CMAKE_MATCH_1}")
      if(DEFINED allowed_${folder})
        if(NOT target IN_LIST allowed_${folder})
          set(fault "${folder}/ must not include ${target}/")
        endif()
      elseif(target IN_LIST front_ends AND NOT target STREQUAL folder)
        set(fault "the front end ${folder}/ must not include the front end ${target}/")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<(Q[A-Za-z]+|Qt[A-Za-z]*/)")
      if(NOT folder STREQUAL "ui")
        set(fault "only ui/ includes Qt")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<(${os_headers})>")
      if(NOT rel MATCHES "^(platform/(posix|win32)|win32ui)/")
        set(fault "only platform/posix/, platform/win32/ and the Win32 window include OS headers")
      endif()
    endif()
    if(fault)
      message("${rel}: ${line}\n    ${fault}")
      math(EXPR faults "${faults} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH sources count)
if(faults GREATER 0)
  message(FATAL_ERROR "${faults} wrong include(s) in ${count} files")
endif()
message("include rules hold in ${count} files")
