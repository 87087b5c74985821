# What `cmake --install` puts in place, and the Debian package CPack makes of it.

# Release builds ship a stripped binary; the other types keep symbols for debugging.
target_link_options(scrivia PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)

# The manual page and the Debian changelog are dated by SOURCE_DATE_EPOCH when it is set, so
# that two builds of the same source give the same bytes; the page states this build's version
# and model folders.
string(TIMESTAMP SCRIVIA_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP SCRIVIA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(docs/scrivia.1.in docs/scrivia.1 @ONLY)

# Debian wants manual pages and changelogs compressed without name or time stamp.
set(SCRIVIA_MAN_PAGE "${PROJECT_BINARY_DIR}/docs/scrivia.1.gz")
add_custom_command(OUTPUT "${SCRIVIA_MAN_PAGE}"
  COMMAND gzip -9nkf docs/scrivia.1
  DEPENDS "${PROJECT_BINARY_DIR}/docs/scrivia.1"
  WORKING_DIRECTORY "${PROJECT_BINARY_DIR}"
  VERBATIM)

configure_file(cmake/changelog.Debian.in docs/changelog.Debian @ONLY)
set(SCRIVIA_CHANGELOG "${PROJECT_BINARY_DIR}/docs/changelog.Debian.gz")
add_custom_command(OUTPUT "${SCRIVIA_CHANGELOG}"
  COMMAND gzip -9nkf docs/changelog.Debian
  DEPENDS "${PROJECT_BINARY_DIR}/docs/changelog.Debian"
  WORKING_DIRECTORY "${PROJECT_BINARY_DIR}"
  VERBATIM)
add_custom_target(scrivia_docs ALL DEPENDS "${SCRIVIA_MAN_PAGE}" "${SCRIVIA_CHANGELOG}")

# A stripping install (`--strip`, CPack) also drops the compiler's notes, as Debian's dh_strip does.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/scrivia\" COMMAND_ERROR_IS_FATAL ANY)
endif()")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(FILES "${SCRIVIA_MAN_PAGE}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES README.md "${SCRIVIA_CHANGELOG}" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
install(FILES LICENSE DESTINATION "${CMAKE_INSTALL_DOCDIR}" RENAME copyright)
# Hosts validate scrivia's lines against it.
install(FILES docs/events.schema.json DESTINATION "${CMAKE_INSTALL_DATADIR}/scrivia")
install(FILES cmake/lintian-overrides DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides"
  RENAME scrivia)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME scrivia)
set(CPACK_PACKAGE_VENDOR "the scrivia developers")
set(CPACK_PACKAGE_CONTACT "scrivia developers <scrivia@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "offline dictation helper for host applications")
set(CPACK_PACKAGE_DESCRIPTION [=[
scrivia is started by a host application as a child process. It records
the default microphone through PulseAudio, recognises speech on the device
with PocketSphinx (no network), cuts it into segments at pauses, and
reports partial and final text as JSON lines on its standard output.
The host stops it by writing the line stop on its standard input.

English is recognised with the model from pocketsphinx-en-us; models for
other languages can be added in scrivia's model folders.]=])
# The package installs under /usr, and the binary has its model folder compiled in: a package
# made from a build for another prefix would look for models where it put none.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
if(NOT CMAKE_INSTALL_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  file(CONFIGURE OUTPUT wrong-package-prefix.cmake @ONLY CONTENT [=[message(FATAL_ERROR
  "This build is for @CMAKE_INSTALL_PREFIX@; configure one with -DCMAKE_INSTALL_PREFIX=/usr to make the package.")]=])
  set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_BINARY_DIR}/wrong-package-prefix.cmake")
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the libraries the binary links; the model, the word list and the
# place names (countries, their subdivisions, time zone cities) of the text formatter are
# read at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pocketsphinx-en-us, wamerican, iso-codes, tzdata")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
