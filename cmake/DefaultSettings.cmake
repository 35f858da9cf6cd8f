# The default settings file: written beside the programs at build time and on install, each
# time only when no settings file is there yet, so a user's edits are never overwritten.
include(GNUInstallDirs)

set(VG_SETTINGS_TEMPLATE ${PROJECT_SOURCE_DIR}/src/config/veilgate.cfg.in)

add_custom_target(default_settings ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${VG_SETTINGS_TEMPLATE} -DTARGET=${VG_BIN_DIR}/veilgate.cfg
          -P ${PROJECT_SOURCE_DIR}/cmake/CopyIfAbsent.cmake
  COMMENT "Default settings file"
  VERBATIM)

install(CODE "
  set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VG_INSTALL_DIR}/veilgate.cfg\")
  execute_process(COMMAND \"${CMAKE_COMMAND}\" \"-DSOURCE=${VG_SETTINGS_TEMPLATE}\" \"-DTARGET=\${target}\"
                  -P \"${PROJECT_SOURCE_DIR}/cmake/CopyIfAbsent.cmake\" COMMAND_ERROR_IS_FATAL ANY)
")
