# Install layout and the Debian package.
#
# The program, libVELK430.so, device.cfg, the help file and velk430-sim sit
# together in one application folder, as in the build's bin folder: the
# program finds the library through RUNPATH $ORIGIN, the library finds
# device.cfg beside the program, F1 opens <program>.HLP. A launcher on the
# path starts it, others start corvantis-run and corvantis-log (whose recipe
# commands run the library's setup check) from there. The folders' own CMakeLists.txt install their files into
# CORV_INSTALL_APPDIR.
#
#   cmake --install build/release --prefix /opt/corvantis
#   cpack --config build/release/CPackConfig.cmake -B build/release/package
#
# The PNG icons are the XPM icons of resources/images, converted with
# "convert resources/images/icon-32.xpm packaging/corvantis-32.png" (and -16).
include(GNUInstallDirs)
set(CORV_INSTALL_APPDIR "lib/corvantis" CACHE STRING
    "Application folder, relative to the install prefix")

file(RELATIVE_PATH CORV_LAUNCHER_TO_APPDIR
     /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CORV_INSTALL_APPDIR})
foreach(launcher corvantis corvantis-run corvantis-log)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${launcher}.in
                 ${CMAKE_BINARY_DIR}/packaging/${launcher} @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/${launcher}
          DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/corvantis.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/corvantis-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME corvantis.png)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvantis)
set(CPACK_PACKAGE_VENDOR Quillfern)
set(CPACK_PACKAGE_CONTACT "Corvantis Dev <dev@corvantis.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "operator's station for production programming of MSP430 microcontrollers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The summary is the synopsis line; CPack indents these lines below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "One dialog window drives a serial-port programmer to erase, program and
verify firmware, write a unique serial number into each unit and blow its
security fuse. Ships with a simulated programmer library and its
velk430-sim command.")
# Qt 6 and the C++ runtime, as the binaries need them (the xcb platform
# plugin comes with libqt6gui6); the library beside the program is ours.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps runs inside the staging root.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${CORV_INSTALL_APPDIR})
# Qt loads its SQL drivers as plugins, which shlibdeps cannot see: SQLite for
# the production record, PostgreSQL for a station on a production line.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-psql")
# The dialogs' font stand-in for MS Sans Serif; mspdebug drives real
# programmers (port texts "mspdebug:..."), not needed with the simulated one.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, mspdebug")
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build/")
include(CPack)
