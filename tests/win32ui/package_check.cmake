# Makes the Windows package with CPack into a scratch folder and checks what the zip holds: one
# folder named after the package, with the program, its manual and README.txt, and nothing else.
#   cmake -DCPACK=<cpack> -DBUILD_DIR=<build dir> -DWORK=<scratch folder> -P package_check.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CPACK} -G ZIP --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK}
                        -D CPACK_OUTPUT_FILE_PREFIX=${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${out}")
endif()
set(zip ${WORK}/quillstamp-1.0b-win64.zip)
if(NOT EXISTS ${zip})
  file(GLOB made ${WORK}/*)
  message(FATAL_ERROR "no ${zip}; made: ${made}")
endif()
file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${WORK}/unzipped)
file(GLOB_RECURSE held RELATIVE ${WORK}/unzipped ${WORK}/unzipped/*)
list(SORT held)
set(expected quillstamp-1.0b-win64/QuillstampDOC.htm quillstamp-1.0b-win64/README.txt
             quillstamp-1.0b-win64/quillstamp.exe)
if(NOT held STREQUAL expected)
  message(FATAL_ERROR "the zip holds\n  ${held}\ninstead of\n  ${expected}")
endif()
# The program is the Windows executable, and the README tells what an administrator must do.
file(READ ${WORK}/unzipped/quillstamp-1.0b-win64/quillstamp.exe magic LIMIT 2 HEX)
if(NOT magic STREQUAL "4d5a")
  message(FATAL_ERROR "quillstamp.exe is not a Windows program (starts with ${magic})")
endif()
file(READ ${WORK}/unzipped/quillstamp-1.0b-win64/README.txt readme)
foreach(needed "Audit object access" "Audit File System" "Audit Detailed File Share" "SACL"
               "administrator")
  string(FIND "${readme}" "${needed}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README.txt does not mention \"${needed}\"")
  endif()
endforeach()
message("the package holds ${held}")
