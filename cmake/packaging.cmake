# Installing and packaging the Linux build (included by CMakeLists.txt when
# not building for Windows):
#   - `cmake --install` with the GNU directories: quarn and make-sample in
#     bin, the plugin in LIBDIR/quarn, the manual page, the bash completion
#     where bash-completion looks for it, the README in share/doc/quarn;
#   - `cpack -G DEB` (or the `package` target): quarn_VERSION_ARCH.deb;
#   - the `tc-zip` target: the Total Commander zip from the Windows builds.

# The plugin goes in the multiarch library directory also under /usr/local,
# where Debian's own search paths have one too, so that the package and a
# source install put it at the same place below their prefix
# (lib/x86_64-linux-gnu/quarn/quarn.wcx). Set before GNUInstallDirs, which
# would pick plain "lib" for any prefix but /usr.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}"
      CACHE PATH "Object code libraries (the plugin goes in its quarn folder)")
endif()
include(GNUInstallDirs)
set(QUARN_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/quarn)

# The manual page, written once in roff (doc/quarn.1.in) and given the
# version and the plugin's folder here; gzipped for share/man as Debian ships
# manual pages.
set(QUARN_MAN_PAGE ${PROJECT_BINARY_DIR}/doc/quarn.1)
configure_file(${PROJECT_SOURCE_DIR}/doc/quarn.1.in ${QUARN_MAN_PAGE} @ONLY)
if(NOT EXISTS ${QUARN_MAN_PAGE}.gz OR ${QUARN_MAN_PAGE} IS_NEWER_THAN ${QUARN_MAN_PAGE}.gz)
  file(ARCHIVE_CREATE OUTPUT ${QUARN_MAN_PAGE}.gz PATHS ${QUARN_MAN_PAGE} FORMAT raw
       COMPRESSION GZip COMPRESSION_LEVEL 9)
endif()

if(TARGET quarn)
  install(TARGETS quarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET make-sample)
  install(TARGETS make-sample RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# A plugin is loaded, never run: no execute bits.
install(TARGETS quarn_wcx LIBRARY DESTINATION ${QUARN_PLUGIN_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${QUARN_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads completions/quarn the first time `quarn` is completed.
install(FILES ${PROJECT_SOURCE_DIR}/tools/quarn-completion.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME quarn)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quarn)

# The Debian package. The maintainer's address and the homepage are
# placeholders until the project has public ones.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarn)
set(CPACK_PACKAGE_CONTACT "Quarn maintainers <maintainers@quarn.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read flash dumps of Siemens mobile phones as archives")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Quarn opens a full flash dump of a Siemens mobile phone, the 32 MiB image\n"
  "of the phone's flash memory, as a read-only archive: each flash disk as a\n"
  "raw image, the flash file system's folders and files with their names,\n"
  "sizes and dates, the EEPROM blocks, and the chunks no file claims. It\n"
  "never writes to the dump.\n"
  "\n"
  "This package holds the quarn command (probe, list, extract, test, info),\n"
  "the packer plugin (WCX) for Double Commander, make-sample, which writes a\n"
  "sample dump to try them on, the manual page and the bash completion.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quarn.example.org")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "doublecmd-gtk | doublecmd-qt, bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# `package_source` packs the sources only: no builds, dumps or git data.
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build[^/]*/" "/out/" "\\\\.bin$" "\\\\.BIN$")
include(CPack)

# The Total Commander zip (build/Quarn-tc.zip), from the Windows builds
# beside this one: tools/test-windows.sh makes them.
set(QUARN_WINDOWS_BUILDS ${PROJECT_SOURCE_DIR}/build
    CACHE PATH "Folder holding the win32 and win64 builds, and the zip tc-zip writes")
add_custom_target(tc-zip
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DWIN32_BUILD=${QUARN_WINDOWS_BUILDS}/win32 -DWIN64_BUILD=${QUARN_WINDOWS_BUILDS}/win64
          -DOUTPUT=${QUARN_WINDOWS_BUILDS}/Quarn-tc.zip -P ${PROJECT_SOURCE_DIR}/cmake/package-tc.cmake
  COMMENT "Packing the Total Commander zip" VERBATIM)
