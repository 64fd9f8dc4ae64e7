# Where `cmake --install` puts the programs and their files, and the .deb
# CPack makes of them (`make deb`). Included once every program's target
# exists; a program not built (the window without Qt 6) is left out.
include(GNUInstallDirs)

set(VELMORA_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "udev rules directory, relative to the install prefix")

foreach(program velmora velmora-cli velmora-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND velmora_installed_programs ${program})
  endif()
endforeach()

install(FILES ${CMAKE_SOURCE_DIR}/contrib/99-velmora.rules DESTINATION ${VELMORA_UDEV_RULES_DIR})

if(TARGET velmora)
  install(FILES ${CMAKE_SOURCE_DIR}/contrib/velmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/contrib/velmora.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Manual pages go in compressed, as Debian keeps them; -n leaves the time out
# so that a rebuild makes the same file.
find_program(VELMORA_GZIP gzip REQUIRED)
foreach(program ${velmora_installed_programs})
  set(page ${CMAKE_SOURCE_DIR}/docs/man/${program}.1)
  set(packed ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(OUTPUT ${packed}
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${CMAKE_BINARY_DIR}/man/${program}.1
    COMMAND ${VELMORA_GZIP} -9nf ${CMAKE_BINARY_DIR}/man/${program}.1
    DEPENDS ${page} VERBATIM)
  list(APPEND velmora_man_pages ${packed})
endforeach()
add_custom_target(velmora_man ALL DEPENDS ${velmora_man_pages})
install(FILES ${velmora_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The .deb. Its dependencies are Debian 12's package names for what the
# programs link (tests/package/deb_test.sh checks them against the binaries),
# named by hand so that packaging needs no shlibs lookup; the lowest versions
# are those of the symbol versions the binaries use. libudev is opened at run
# time (hot-plug falls back to watching /dev without it): recommended only.
# The window's platform plugins (xcb, offscreen) come with libqt6gui6.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_CONTACT "Velmora developers <velmora@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "writes firmware images into up to twenty handsets at once")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora downloads phone code, boot loader, QBFS, EFS2 files and resource images into mobile\n"
    "handsets over their serial ports, up to twenty in parallel, each with its own progress and log.\n"
    "velmora is the operator's window, velmora-cli the same tool for the command line and\n"
    "automation, velmora-sim a bench of simulated handsets on pseudo-terminals.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(velmora_depends "libc6 (>= 2.34)" "libgcc-s1 (>= 3.0)" "libstdc++6 (>= 12)")
if(TARGET velmora)
  list(APPEND velmora_depends
       "libqt6core6 (>= 6.4.2)" "libqt6gui6 (>= 6.4.2)" "libqt6widgets6 (>= 6.4.2)")
endif()
if(TARGET velmora_records)
  # The history (SQLite) and the line's central database (libpq).
  list(APPEND velmora_depends "libsqlite3-0 (>= 3.40)" "libpq5 (>= 15)")
endif()
list(JOIN velmora_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libudev1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "udev")
include(CPack)
