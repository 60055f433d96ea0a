# Desktop integration, documentation and the Debian package (cpack -G DEB).
# Installs the .desktop entry and its AppStream metainfo, the application icon
# in the hicolor theme (the SVG drawn by tools/artwork, plus PNG sizes rendered
# at build time), the man pages, the user documentation, the copyright file and
# the Debian changelog.

set(ORVANE_ICON_SVG ${PROJECT_SOURCE_DIR}/resources/icons/app.svg)
set(ORVANE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/resources/packaging)
# Directories the install step creates get 755 whatever the umask of the
# machine that builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(ORVANE_BUILD_GUI)
  install(FILES ${ORVANE_PACKAGING_DIR}/orvane.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ORVANE_PACKAGING_DIR}/io.orvane.Orvane.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
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

# One process per stream under systemd: template units reading
# /etc/orvane/NAME.conf (docs/fleet.md). Debian 12 keeps units in /lib.
set(ORVANE_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Where the systemd units are installed")
install(FILES ${PROJECT_SOURCE_DIR}/resources/systemd/orvane-record@.service
              ${PROJECT_SOURCE_DIR}/resources/systemd/orvane-monitor@.service
              ${PROJECT_SOURCE_DIR}/resources/systemd/orvane-play@.service
        DESTINATION ${ORVANE_SYSTEMD_UNIT_DIR})

# The package is "orvane"; GNUInstallDirs would name the folder after the project.
set(ORVANE_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/orvane)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${ORVANE_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${ORVANE_DOCDIR}
        PATTERN man EXCLUDE)
# The licence in Debian's machine-readable copyright format.
install(FILES ${ORVANE_PACKAGING_DIR}/copyright DESTINATION ${ORVANE_DOCDIR})

# The package's version is the project's plus a Debian revision; the newest
# changelog entry must name exactly that version, or dpkg and lintian would
# describe a different package than the one built.
set(ORVANE_DEBIAN_REVISION 1 CACHE STRING "Debian revision of the package (the part after the hyphen)")
set(ORVANE_DEBIAN_VERSION ${PROJECT_VERSION}-${ORVANE_DEBIAN_REVISION})
set(changelog ${ORVANE_PACKAGING_DIR}/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${changelog} ${ORVANE_PACKAGING_DIR}/io.orvane.Orvane.metainfo.xml)
file(STRINGS ${changelog} changelog_head LIMIT_COUNT 1)
string(REGEX MATCH "^orvane \\(([^)]+)\\)" unused "${changelog_head}")
if(NOT CMAKE_MATCH_1 STREQUAL ORVANE_DEBIAN_VERSION)
  message(FATAL_ERROR "${changelog}: the newest entry is for version '${CMAKE_MATCH_1}', "
                      "the package is ${ORVANE_DEBIAN_VERSION}: add an entry for it")
endif()
# Software centres show the newest <release> of the metainfo as the version.
file(READ ${ORVANE_PACKAGING_DIR}/io.orvane.Orvane.metainfo.xml metainfo)
string(REGEX MATCH "<release version=\"([^\"]+)\"" unused "${metainfo}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "io.orvane.Orvane.metainfo.xml: the newest release is '${CMAKE_MATCH_1}', "
                      "the project is ${PROJECT_VERSION}: add a <release> for it")
endif()
set(changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${changelog} ${changelog_gz}
  DEPENDS ${changelog}
  VERBATIM)
add_custom_target(orvane_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${changelog_gz} DESTINATION ${ORVANE_DOCDIR})

# The Debian package. Library dependencies come from dpkg-shlibdeps (dpkg-dev);
# Qt loads its platform plugins and the SVG icon/image plugins (libqt6svg6) at
# run time, so no ELF file names them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ORVANE_DEBIAN_REVISION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Station for MPEG-2 transport streams over IP")
# One line per row of the control file, as Debian wants them (under 80 columns).
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Orvane plays transport stream files to UDP/RTP at the stream's PCR bit\n"
  "rate, records and monitors UDP/RTP streams into files (time or size\n"
  "limits, rings of files), analyses streams (packet size, PCR bit rate,\n"
  "programs, PIDs, sync loss) and lists the maker's IP streaming devices on\n"
  "the LAN. The package holds the Qt window (orvane), the command-line tool\n"
  "(orvane-cli) and a simulated device (orvane-devsim).")
# The project's own address; a distribution packaging Orvane sets its own.
set(ORVANE_PACKAGE_MAINTAINER "Orvane authors <maintainers@orvane.io>"
    CACHE STRING "Maintainer field of the Debian package")
# Trees configured before the project had an address keep a placeholder on
# localhost in their cache, which no package may carry.
if(ORVANE_PACKAGE_MAINTAINER STREQUAL "Orvane developers <orvane@localhost>")
  set(ORVANE_PACKAGE_MAINTAINER "Orvane authors <maintainers@orvane.io>"
      CACHE STRING "Maintainer field of the Debian package" FORCE)
endif()
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
# md5sums and the other control files 644, as dpkg-deb builds them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
