# Installing and packaging the Linux build (included by CMakeLists.txt when
# not building for Windows):
#   - `cmake --install` with the GNU directories: quarn and make-sample in
#     bin, the plugin in LIBDIR/quarn, the manual page, the bash completion
#     where bash-completion looks for it, the README in share/doc/quarn.

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
