# Installation like other Linux programs (cmake --install, or a Debian
# package with cpack -G DEB): the three programs, a desktop entry and icon
# for the window, and a man page made from each program's --help.
include(GNUInstallDirs)

install(TARGETS tavirel tavirel-cli tavirel-siggen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/tavirel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/tavirel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(manPages)
foreach(program tavirel tavirel-cli tavirel-siggen)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
            -DVERSION=${PROJECT_VERSION} -DOUTPUT=${page} -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMENT "Man page of ${program}")
  list(APPEND manPages ${page})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${manPages})
install(FILES ${manPages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME tavirel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tavirel developers <tavirel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DVB-S and DVB-S2 software receiver for SDRs")
set(CPACK_PACKAGE_DESCRIPTION "Demodulates and decodes DVB-S and DVB-S2 signals from an SDR, a TCP IQ \
stream or a recording, and delivers the transport stream over UDP, TCP or to a file. tavirel is the \
window; tavirel-cli the same receiver without it; tavirel-siggen a test transmitter.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The dependencies are the shared libraries the programs load, as Debian
# names them (dpkg-shlibdeps); the radio libraries are among them, since
# the programs link every one the build found.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "vlc")
include(CPack)
