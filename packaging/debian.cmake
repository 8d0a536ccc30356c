# The Debian package quillstamp_<version>_<arch>.deb, made by `cpack -G DEB` in a build folder
# configured with -DQS_DEB_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/ (scripts/test.sh does so):
#
#   /usr/bin/quillstamp-service                  the service
#   /lib/systemd/system/quillstamp.service       its unit (enabled on install, not started)
#   /etc/quillstamp/Quillstamp.ini               its settings, a conffile, every key commented
#   /usr/lib/quillstamp/quillstamp               the window program, with its manual and icon
#   /usr/lib/quillstamp/Quillstamp.ini           -> /var/lib/quillstamp/Quillstamp.ini
#   /usr/bin/quillstamp                          -> ../lib/quillstamp/quillstamp
#   /usr/share/applications, /usr/share/icons    the desktop entry and the icons
#
# The window program finds its settings file beside its executable and writes it key by key.
# Debian keeps programs out of /opt and /usr may be mounted read-only, so the file beside the
# executable is a link to /var/lib/quillstamp, where variable state belongs; the program writes
# through the link to its target. The window runs as root, as reading the audit log requires,
# and root can write there; the maintainer scripts make the file on installation and remove it on
# purge. The manual and the icon stay beside the program, which opens them from its own folder.

set(qs_resources ${PROJECT_SOURCE_DIR}/src/ui/resources)
find_program(QS_GZIP gzip REQUIRED)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/deb)
set(qs_lib usr/lib/quillstamp)

if(TARGET quillstamp-service)
  install(TARGETS quillstamp-service RUNTIME DESTINATION usr/bin)
endif()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/quillstamp.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/Quillstamp.ini DESTINATION etc/quillstamp)

if(TARGET quillstamp)
  install(TARGETS quillstamp RUNTIME DESTINATION ${qs_lib})
  file(CREATE_LINK ../lib/quillstamp/quillstamp ${CMAKE_CURRENT_BINARY_DIR}/deb/quillstamp SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deb/quillstamp DESTINATION usr/bin)
  file(CREATE_LINK /var/lib/quillstamp/Quillstamp.ini ${CMAKE_CURRENT_BINARY_DIR}/deb/Quillstamp.ini
       SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deb/Quillstamp.ini DESTINATION ${qs_lib})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/QuillstampDOC.htm DESTINATION ${qs_lib})
  install(FILES ${qs_resources}/quillstamp_64.png DESTINATION ${qs_lib} RENAME quillstamp.png)
  foreach(size 16 32 48 64)
    install(FILES ${qs_resources}/quillstamp_${size}.png
            DESTINATION usr/share/icons/hicolor/${size}x${size}/apps RENAME quillstamp.png)
  endforeach()
  file(READ ${CMAKE_CURRENT_SOURCE_DIR}/quillstamp.desktop qs_entry)
  string(REPLACE "Exec=/opt/quillstamp/quillstamp" "Exec=/usr/bin/quillstamp" qs_entry "${qs_entry}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/deb/quillstamp.desktop "${qs_entry}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deb/quillstamp.desktop DESTINATION usr/share/applications)
endif()

# The manual pages of the two programs.
foreach(page quillstamp-service.8 quillstamp.1)
  string(REGEX MATCH "[0-9]$" section ${page})
  execute_process(COMMAND ${QS_GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/debian/${page}
                  OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/deb/${page}.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deb/${page}.gz DESTINATION usr/share/man/man${section})
endforeach()

# The documents every Debian package carries, compressed as Debian wants them (no name, no time).
set(qs_doc usr/share/doc/quillstamp)
execute_process(COMMAND ${QS_GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog
                OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz
        DESTINATION ${qs_doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillstamp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "Quillstamp developers <maintainers@users.noreply.c-seed-da7b7de5.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stamps who changed each shared file, and when, into its comments")
# The extended description; CPack puts the summary above it and indents every line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quillstamp reads a Security event log (the Linux audit log, or a
Windows log file), selects the events that show a file opened for
writing, and writes the date, the time and the user into the file's
comments: the Windows 2000 Comments property (user.xdg.comment) and the
Macintosh comment stream that Samba keeps in an extended attribute.
.
quillstamp-service runs the analysis as a systemd service on a file server
without a desktop; the window program quillstamp shows the list of events.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# deb-systemd-helper and deb-systemd-invoke of the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "init-system-helpers (>= 1.52)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "auditd")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "samba")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/conffiles ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
