# Installation and the Debian package.
#
#   <prefix>/lib/qs-veilgate/   the installation directory the updater knows: vgproxy, vgupdate,
#                               vgtool, cipherhub.so, the engine modules, the default veilgate.cfg
#   <prefix>/bin/               links to vgproxy, vgtool and vgupdate there (the programs find
#                               their directory through the link)
#   <prefix>/share/...          desktop entry, opt-in autostart entry, icon, README
#   <prefix>/lib/systemd/user/  qs-veilgate.service: vgproxy --headless for `systemctl --user`
include(GNUInstallDirs)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)

set(VG_PROGRAMS vgproxy vgupdate vgtool)

install(TARGETS ${VG_PROGRAMS} RUNTIME DESTINATION ${VG_INSTALL_DIR})
install(TARGETS cipherhub LIBRARY DESTINATION ${VG_INSTALL_DIR})
foreach(module IN ITEMS engmod01 engmod10)
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${VG_INSTALL_DIR})
  endif()
endforeach()

foreach(program IN LISTS VG_PROGRAMS)
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"../${VG_INSTALL_DIR}/${program}\" \"\${link}\" SYMBOLIC)
  ")
endforeach()

set(VG_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/qs-veilgate)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${VG_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/qs-veilgate.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Not in /etc/xdg/autostart, where every user of the machine would get it: a user who wants the
# tray program at login copies it to ~/.config/autostart.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/qs-veilgate-autostart.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/qs-veilgate/autostart RENAME qs-veilgate.desktop)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/qs-veilgate.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The unit names the installed program by its full path: made for the prefix installed into.
install(CODE "
  set(VG_BIN_FULL_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(VG_DOC_DIR \"\${CMAKE_INSTALL_PREFIX}/${VG_DOC_DIR}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/qs-veilgate.service.in\"
                 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/qs-veilgate.service\" @ONLY)
")

# Debian wants the changes compressed reproducibly beside the copyright.
find_program(VG_GZIP gzip)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
             ${PROJECT_SOURCE_DIR}/packaging/man/vgproxy.1 ${PROJECT_SOURCE_DIR}/packaging/man/vgtool.1
             ${PROJECT_SOURCE_DIR}/packaging/man/vgupdate.1)
if(VG_GZIP)
  execute_process(COMMAND ${VG_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${VG_DOC_DIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${VG_DOC_DIR})
foreach(page IN ITEMS vgproxy vgtool vgupdate)
  if(VG_GZIP)
    execute_process(COMMAND ${VG_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/man/${page}.1
                    OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

# The Debian package: `cmake --build build --target package`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qs-veilgate)
set(CPACK_PACKAGE_VENDOR "QS-Veilgate developers")
set(CPACK_PACKAGE_CONTACT "QS-Veilgate developers <support@qs-veilgate.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "protecting HTTP proxy for a provider's web servers")
set(CPACK_PACKAGE_DESCRIPTION "vgproxy is a local HTTP proxy (a tray program, or a headless service)
that compresses, signs and encrypts the browser's requests to the provider's
protected web servers and checks their answers; other traffic passes
unchanged. cipherhub and its engine modules do the cryptography; vgupdate
updates a per-user installation and vgtool inspects settings and engines.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
