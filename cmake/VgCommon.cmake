# Shared compile settings and small helpers for the project's targets.

set(VG_WARNINGS -Wall -Wextra -Wno-unused-parameter)

if(VG_SANITIZE)
  add_compile_options(-fsanitize=${VG_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VG_SANITIZE})
endif()

# Program version carried by every executable (read back by platform/ProgramInfo).
set(VG_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(VG_VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(VG_VERSION_RELEASE ${PROJECT_VERSION_PATCH})
set(VG_VERSION_BUILD ${PROJECT_VERSION_TWEAK})

# A program of the install tree: its own directory is its library search path.
function(vg_program target)
  target_compile_options(${target} PRIVATE ${VG_WARNINGS})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/VersionInfo.cpp)
  target_compile_definitions(${target} PRIVATE
    VG_VERSION_MAJOR=${VG_VERSION_MAJOR} VG_VERSION_MINOR=${VG_VERSION_MINOR}
    VG_VERSION_RELEASE=${VG_VERSION_RELEASE} VG_VERSION_BUILD=${VG_VERSION_BUILD})
  set_target_properties(${target} PROPERTIES BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN"
    RUNTIME_OUTPUT_DIRECTORY ${VG_BIN_DIR})
  if(WIN32)
    # The system's own version resource, read back with the version functions of Windows.
    set(VG_RC_FILE_NAME ${target}.exe)
    configure_file(${PROJECT_SOURCE_DIR}/src/platform/win/version.rc.in
      ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  endif()
endfunction()

# A loadable module named like its Windows counterpart without the "lib" prefix (X.dll, or X.so here).
function(vg_module target)
  target_compile_options(${target} PRIVATE ${VG_WARNINGS})
  if(WIN32)
    # A DLL exports exactly what its headers mark for export.
    target_compile_definitions(${target} PRIVATE "CHM_EXPORT=__declspec(dllexport)"
      "CIPHERHUB_EXPORT=__declspec(dllexport)")
    set(suffix ".dll")
  else()
    set(suffix ".so")
  endif()
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX "${suffix}" RUNTIME_OUTPUT_DIRECTORY ${VG_BIN_DIR}
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN"
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${VG_BIN_DIR})
endfunction()

# The core libraries never link Qt (directly or through vggui); checked once every target exists.
function(vg_check_core_without_qt)
  foreach(core_target vgplatform vgcore vgdialogs cipherhub_core)
    if(NOT TARGET ${core_target})
      continue()
    endif()
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(links ${core_target} ${property})
      foreach(link IN LISTS links)
        if(link MATCHES "Qt[0-9]*::|^vggui$|Qt[0-9]*(Core|Gui|Widgets)")
          message(FATAL_ERROR "${core_target} links ${link}: Qt belongs to vggui and the programs above it")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()
