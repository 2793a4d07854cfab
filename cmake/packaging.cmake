# The hosted program as a Linux user takes it: installed with its man page
# (cmake --install), packaged as a .deb (cpack), and for the release linked
# statically (TQ72_STATIC, the linux preset). The Windows program ships in
# the release's zip and floppy instead.
if(WIN32)
  return()
endif()

option(TQ72_STATIC "Link the hosted program statically, with no build path in it (the release)" OFF)
if(TQ72_STATIC)
  # One file that runs on any x86-64 Linux from kernel 3.2 on (the oldest
  # Debian's glibc is built for), a live system's included, with nothing
  # installed beside it. A static glibc warns at the link about each call
  # that would still need its shared libraries at run time (getpwnam and the
  # rest of the name services, dlopen): the warnings are fatal, so that no
  # such call gets in. No symbols (-s): they would only name our objects.
  target_link_options(tq72uninst PRIVATE -static -s -Wl,--fatal-warnings -Wl,--build-id=sha1)
  # The same bytes from any folder: no path of the tree or of the build in
  # the program (-ffile-prefix-map maps both __FILE__ and debug data). Flags
  # set here, at the end of the top folder, reach every target of it.
  string(APPEND CMAKE_CXX_FLAGS " -ffile-prefix-map=${PROJECT_SOURCE_DIR}/="
                                " -ffile-prefix-map=${PROJECT_BINARY_DIR}/=")
endif()

include(GNUInstallDirs)
# The man page and the package's changelog carry the version and the date
# of the sources (SOURCE_DATE_EPOCH when set, which string(TIMESTAMP)
# honours), and are installed compressed, without the name or time gzip
# would store, as Debian installs them.
set(CPACK_PACKAGE_CONTACT "Quorvane TQ72 uninstaller developers <tq72uninst@quorvane.example>")
string(TIMESTAMP TQ72_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP TQ72_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(docs/tq72uninst.1.in tq72uninst.1 @ONLY)
configure_file(docs/changelog.in changelog @ONLY)
find_program(GZIP gzip REQUIRED)
foreach(file tq72uninst.1 changelog)
  add_custom_command(OUTPUT ${file}.gz
                     COMMAND ${GZIP} -9nc ${file} > ${file}.gz
                     DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${file}
                     COMMENT "Compressing ${file}")
endforeach()
add_custom_target(tq72uninst_docs ALL DEPENDS tq72uninst.1.gz changelog.gz)

install(TARGETS tq72uninst RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tq72uninst.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TQ72_STATIC)
  install(FILES docs/lintian/tq72uninst DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
endif()

# cpack --config CPackConfig.cmake: tq72uninst_VERSION_amd64.deb. Its
# dependencies are dpkg-shlibdeps', none for the static program.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tq72uninst)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "uninstaller of the Quorvane TQ72 modem's Windows 95/98 drivers")
set(CPACK_PACKAGE_DESCRIPTION "\
Takes the Quorvane TQ72 PCI modem's driver package off a Windows 95/98\n\
machine kept in a folder (its registry as REGEDIT4, its Windows folder):\n\
registry keys, driver files and the system.ini lines, after one\n\
confirmation. Every change is journalled, so that a run that is stopped\n\
loses nothing and the next run finishes it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
