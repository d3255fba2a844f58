# Installation layout and the Debian package (CPack), included last from the top-level CMakeLists.
#
# The programs find everything from their own folder, whatever the prefix:
#   bin/norvex, bin/norvex-cli           RPATH $ORIGIN/../lib/norvex/lib
#   lib/norvex/lib/libnorvex_codec.so.0  the shared codec (one table per process), private to Norvex:
#                                        not in the loader's public folders, so no ldconfig
#   lib/norvex/modules/<name>.so         the archiver modules (RPATH $ORIGIN/../lib), looked up
#                                        at run time as <program folder>/../lib/norvex/modules
#   share/norvex/help/index.html         the help page (<program folder>/../share/norvex/help)
#   share/applications/norvex.desktop, share/icons/hicolor/scalable/apps/norvex.svg
#   share/man/man1/norvex.1.gz, norvex-cli.1.gz
#   share/doc/norvex/copyright, changelog.gz
# The library folder is therefore always "lib", never GNUInstallDirs' multiarch folder (Debian's
# lib/x86_64-linux-gnu for /usr), which the loader and the modules' RPATH do not know.
set(NORVEX_INSTALL_LIBDIR lib)
set(NORVEX_INSTALL_PRIVATEDIR ${NORVEX_INSTALL_LIBDIR}/norvex/lib)
set(NORVEX_INSTALL_MODULEDIR ${NORVEX_INSTALL_LIBDIR}/norvex/modules)

install(TARGETS norvex_codec LIBRARY DESTINATION ${NORVEX_INSTALL_PRIVATEDIR} NAMELINK_SKIP)

# Every archiver module of modules/<folder> (a module library target), so a new module needs no line.
get_property(norvex_module_dirs DIRECTORY ${CMAKE_SOURCE_DIR}/modules PROPERTY SUBDIRECTORIES)
foreach(dir ${norvex_module_dirs})
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "MODULE_LIBRARY")
      set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
      install(TARGETS ${t} LIBRARY DESTINATION ${NORVEX_INSTALL_MODULEDIR})
    endif()
  endforeach()
endforeach()

foreach(program norvex-cli norvex)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${NORVEX_INSTALL_PRIVATEDIR}")
  endif()
endforeach()
# Manual pages and the changelog are installed compressed (gzip -9n: no name, no time stamp, so the
# same sources give the same package).
find_program(NORVEX_GZIP gzip REQUIRED)
function(norvex_gzip_file source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${NORVEX_GZIP} -9nc ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()
set(NORVEX_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${NORVEX_PACKAGE_FILES})
set(NORVEX_GZIPPED "")
foreach(page norvex-cli norvex)
  if(TARGET ${page})
    norvex_gzip_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1 ${NORVEX_PACKAGE_FILES}/${page}.1.gz)
    list(APPEND NORVEX_GZIPPED ${NORVEX_PACKAGE_FILES}/${page}.1.gz)
    install(FILES ${NORVEX_PACKAGE_FILES}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/data/changelog.in ${NORVEX_PACKAGE_FILES}/changelog @ONLY)
norvex_gzip_file(${NORVEX_PACKAGE_FILES}/changelog ${NORVEX_PACKAGE_FILES}/changelog.gz)
list(APPEND NORVEX_GZIPPED ${NORVEX_PACKAGE_FILES}/changelog.gz)
add_custom_target(norvex_package_files ALL DEPENDS ${NORVEX_GZIPPED})
install(FILES ${CMAKE_SOURCE_DIR}/data/copyright ${NORVEX_PACKAGE_FILES}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/norvex)

if(TARGET norvex-cli)
  install(TARGETS norvex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The program itself, its help page and icon are installed by ui/; the menu entry goes with it.
if(TARGET norvex)
  install(FILES ${CMAKE_SOURCE_DIR}/data/norvex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

# ---- The Debian package: cpack -G DEB in the build folder gives norvex_<version>_<arch>.deb ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvex)
set(CPACK_PACKAGE_VENDOR "Norvex")
set(CPACK_PACKAGE_CONTACT "Norvex developers <norvex@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch archive extractor with a Japanese user interface")
# Lines of the long description stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "Norvex extracts ZIP, LZH, RAR, CAB, 7z and tar archives one after another,\n"
    "with correct Japanese (cp932) file names, and then leaves, deletes, trashes\n"
    "or moves each archive. It has a desktop window (norvex) and a command-line\n"
    "front end for scripts (norvex-cli).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries come from dpkg-shlibdeps when it is there (libarchive13, liblhasa0, libisal2, the Qt 6 base
# libraries, libc6, libstdc++6); without it, the same list by hand. The rest is never linked but
# needed all the same: the Qt platform plugins and translations, a Japanese font, and xdg-open for
# folders.
set(NORVEX_DEB_RUNTIME "fonts-ipafont-gothic, xdg-utils")
if(TARGET norvex)
  # Qt's own texts in Japanese (file dialogs, context menus, standard buttons); the SVG image and
  # icon plugins that draw the program's icon.
  string(PREPEND NORVEX_DEB_RUNTIME "qt6-qpa-plugins, qt6-translations-l10n, libqt6svg6, ")
endif()
find_program(NORVEX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NORVEX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Our own codec is found beside the programs in the package tree, not in a Debian package.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
      "${CMAKE_BINARY_DIR}/lib")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${NORVEX_DEB_RUNTIME}")
else()
  set(NORVEX_DEB_LIBS "libc6, libstdc++6, libgcc-s1, libarchive13, liblhasa0, libisal2, zlib1g")
  if(TARGET norvex)
    string(APPEND NORVEX_DEB_LIBS ", libqt6core6, libqt6gui6, libqt6widgets6, libqt6network6")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${NORVEX_DEB_LIBS}, ${NORVEX_DEB_RUNTIME}")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "desktop-file-utils")
if(TARGET norvex)
  # The desktop's own file dialogs, where the desktop offers them to Qt.
  string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", qt6-xdgdesktopportal-platformtheme | qt6-gtk-platformtheme")
endif()
include(CPack)
