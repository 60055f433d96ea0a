# Desktop integration, documentation and the Debian package (cpack -G DEB).
# Installs the .desktop entry, the application icon in the hicolor theme (the
# SVG drawn by tools/artwork, plus PNG sizes rendered at build time), the man
# pages and the user documentation.

set(ORVANE_ICON_SVG ${PROJECT_SOURCE_DIR}/resources/icons/app.svg)

if(ORVANE_BUILD_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/packaging/orvane.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ORVANE_ICON_SVG}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME orvane.svg)

  # Menus and docks that do not scale SVG want PNGs; rsvg-convert is small and
  # comes from librsvg2-bin (scripts/install-deps.sh).
  find_program(ORVANE_RSVG_CONVERT rsvg-convert)
  if(ORVANE_RSVG_CONVERT)
    set(pngs)
    foreach(size 16 22 24 32 48 64 128 256)
      set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}/orvane.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}
        COMMAND ${ORVANE_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${ORVANE_ICON_SVG}
        DEPENDS ${ORVANE_ICON_SVG}
        COMMENT "Rendering the ${size}x${size} application icon"
        VERBATIM)
      list(APPEND pngs ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(orvane_icons ALL DEPENDS ${pngs})
  else()
    message(WARNING "rsvg-convert not found: only the scalable icon is installed (apt-get install librsvg2-bin)")
  endif()
endif()

# Man pages, compressed as Debian wants them (-n: no time stamp, reproducible).
set(manpages orvane-cli orvane-devsim)
if(ORVANE_BUILD_GUI)
  list(APPEND manpages orvane)
endif()
set(gzipped)
foreach(page ${manpages})
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}.1
    VERBATIM)
  list(APPEND gzipped ${gz})
endforeach()
add_custom_target(orvane_manpages ALL DEPENDS ${gzipped})
install(FILES ${gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package is "orvane"; GNUInstallDirs would name the folder after the project.
set(ORVANE_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/orvane)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${ORVANE_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${ORVANE_DOCDIR}
        PATTERN man EXCLUDE)

# The Debian package. Library dependencies come from dpkg-shlibdeps (dpkg-dev);
# Qt loads its platform plugins and the SVG icon/image plugins (libqt6svg6) at
# run time, so no ELF file names them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Station for MPEG-2 transport streams over IP")
# One line per row of the control file, as Debian wants them (under 80 columns).
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Orvane plays transport stream files to UDP/RTP at the stream's PCR bit\n"
  "rate, records and monitors UDP/RTP streams into files (time or size\n"
  "limits, rings of files), analyses streams (packet size, PCR bit rate,\n"
  "programs, PIDs, sync loss) and lists the maker's IP streaming devices on\n"
  "the LAN. The package holds the Qt window (orvane), the command-line tool\n"
  "(orvane-cli) and a simulated device (orvane-devsim).")
set(ORVANE_PACKAGE_MAINTAINER "Orvane developers <orvane@localhost>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${ORVANE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ORVANE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(ORVANE_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
