# The Debian package: `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr (scripts/package does this). Shared-library
# dependencies are computed by dpkg-shlibdeps from the program itself.
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "The Ostrel developers")
set(CPACK_PACKAGE_CONTACT "Ostrel developers <maintainers@ostrel.io>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "analyzer for RS-232 serial lines")
set(CPACK_PACKAGE_DESCRIPTION
"Ostrel opens one or two serial ports and shows their traffic live as
time-stamped HEX or ASCII lines, marked with the side that sent them. It can
act as either end of a link, sit in the line between a DTE and a DCE and relay
both ways while showing both, or only listen. Text or hex bytes can be sent to
either side and the raw traffic captured to a file. Without a display it runs
headless and writes the traffic to standard output.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE "")
include(CPack)

# Debian asks every package for its copyright file and changelog.
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(ostrel_changelog_gz ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${ostrel_changelog_gz}
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/data/debian/changelog > ${ostrel_changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/data/debian/changelog)
add_custom_target(ostrel_changelog ALL DEPENDS ${ostrel_changelog_gz})
install(FILES ${ostrel_changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})
