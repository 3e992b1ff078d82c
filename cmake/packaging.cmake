# What `make install` puts on a machine and what the Debian package holds: the programs, the
# window's desktop entry and icon (when the window is built), the udev rule, a man page per
# program made from its --help, and the sample Mirk3.ini. The udev rule is the output of
# `mirk3-cli udev-rule` itself, so that the installed rule and the printed one cannot differ.
include(GNUInstallDirs)

set(MIRK3_PROGRAMS mirk3-cli mirk3-devsim mirk3-pack)
set(MIRK3_PROGRAM_NAMES
    "mirk3-cli=the flashing station without a window"
    "mirk3-devsim=emulated phones in download mode"
    "mirk3-pack=package tools for the flashing station")
if(TARGET mirk3)
  list(APPEND MIRK3_PROGRAMS mirk3)
  list(APPEND MIRK3_PROGRAM_NAMES "mirk3=the firmware flashing station")
endif()
install(TARGETS ${MIRK3_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(TARGET mirk3)
  if(EXISTS ${CMAKE_SOURCE_DIR}/data/mirk3.desktop)
    install(FILES data/mirk3.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/data/mirk3.svg)
    install(FILES data/mirk3.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/data/mirk3.png)
    install(FILES data/mirk3.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
  endif()
endif()

# The rule of every USB ACM port: a station that names its vendor prints a narrower one into
# /etc/udev/rules.d, where it takes this one's place. udev reads rules under /usr/lib and
# /usr/local/lib alike, so the prefix decides nothing.
set(MIRK3_UDEV_RULE ${CMAKE_BINARY_DIR}/data/60-mirk3.rules)
add_custom_command(OUTPUT ${MIRK3_UDEV_RULE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/data
  COMMAND sh -c "\"$1\" udev-rule --ini /dev/null > \"$2\"" sh $<TARGET_FILE:mirk3-cli>
          ${MIRK3_UDEV_RULE}
  DEPENDS mirk3-cli
  COMMENT "Writing the udev rule" VERBATIM)
set(MIRK3_DATA ${MIRK3_UDEV_RULE})
install(FILES ${MIRK3_UDEV_RULE} DESTINATION lib/udev/rules.d)

find_program(HELP2MAN help2man)
if(HELP2MAN)
  foreach(entry ${MIRK3_PROGRAM_NAMES})
    string(REGEX REPLACE "=.*" "" program "${entry}")
    string(REGEX REPLACE "^[^=]*=" "" what "${entry}")
    set(commands "")
    if(program STREQUAL "mirk3-cli")
      set(commands flash station md5 verify inspect pit ports jig doctor udev-rule)
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-man-page $<TARGET_FILE:${program}> ${what} ${page}
              ${commands}
      DEPENDS ${program} ${CMAKE_SOURCE_DIR}/scripts/make-man-page
      COMMENT "Writing the man page of ${program}" VERBATIM)
    list(APPEND MIRK3_DATA ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(WARNING "help2man not found: no man pages (scripts/install-deps installs it)")
endif()
add_custom_target(mirk3_data ALL DEPENDS ${MIRK3_DATA})

install(FILES data/Mirk3.ini.sample README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `make package`: build/mirk3_<version>_amd64.deb. Its library dependencies come from the
# programs themselves (dpkg-shlibdeps); udev and a session bus are what the station works with.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirk3)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware flashing station for phones in download mode")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Flashes up to 56 phones at once over their USB serial ports, with a window (mirk3) or "
       "without (mirk3-cli), and checks a machine's readiness with mirk3-cli doctor.")
set(CPACK_PACKAGE_CONTACT "Mirk3 maintainers <mirk3@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, dbus-user-session | dbus-x11")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/data/debian/postinst
                                       ${CMAKE_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
