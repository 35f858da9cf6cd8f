# The unit suites of the Windows build. GoogleTest is built for the target from Debian's sources;
# each suite is one test, run through the cross-compiling emulator (Wine), since starting Wine
# once per test case would cost more than the cases themselves.
set(VG_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for the target")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VG_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# vg_add_win_test(target SOURCES ... [LIBS ...] [DEPENDS ...] [DEFINES ...])
function(vg_add_win_test target)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEPENDS;DEFINES" ${ARGN})
  add_executable(${target} ${T_SOURCES})
  target_compile_options(${target} PRIVATE ${VG_WARNINGS})
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE ${T_LIBS} vgcore gtest gmock gtest_main)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${target} PRIVATE VG_TEST_BIN_DIR="${VG_BIN_DIR}"
    VG_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VG_TEST_BUILD_DIR="${CMAKE_BINARY_DIR}" ${T_DEFINES})
  if(T_DEPENDS)
    add_dependencies(${target} ${T_DEPENDS})
  endif()
  add_test(NAME win_${target} COMMAND ${target})
  set_tests_properties(win_${target} PROPERTIES TIMEOUT 600)
endfunction()

# platform: text and errors
vg_add_win_test(test_platform SOURCES platform/SysUtilsTest.cpp platform/WinProgramInfoTest.cpp DEPENDS vgtool)
# protection: header-value encoding and compression
vg_add_win_test(test_protection SOURCES protection/STFCodeTest.cpp)
vg_add_win_test(test_conkey SOURCES protection/conkey/ConKeyTest.cpp)
# protection: the engine object over the real cipherhub.dll and over scripted stand-ins
add_subdirectory(protection/engine)
vg_add_win_test(test_compress SOURCES protection/compress/CorruptTest.cpp protection/compress/KhFormatTest.cpp
  protection/compress/LzhFormatTest.cpp protection/compress/RoundTripTest.cpp protection/compress/StreamsTest.cpp)
# tunnel: HTTP messages
vg_add_win_test(test_httpdata SOURCES tunnel/httpdata/BufferTest.cpp tunnel/httpdata/CompletenessTest.cpp
  tunnel/httpdata/FramingTest.cpp tunnel/httpdata/HeaderTest.cpp tunnel/httpdata/StartLineTest.cpp)

# cipherhub.dll exports exactly the entries the Linux library exports.
add_test(NAME win_cipherhub_exports COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP}
  -DLIBRARY=$<TARGET_FILE:cipherhub> -DMAP=${PROJECT_SOURCE_DIR}/src/cipherhub/cipherhub.map
  -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)

# The updater's way of ending a running tunnel, for the end-to-end run under Wine
# (scripts/test-windows-e2e.sh).
add_executable(vg_postquit windows/PostQuit.cpp)
set_target_properties(vg_postquit PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

# platform: INI profile routines and the system's registry; settings storage over both
vg_add_win_test(test_platform_ini SOURCES platform/ini/IniProfileTest.cpp)
vg_add_win_test(test_platform_registry SOURCES platform/registry/RegistryNamesTest.cpp
  platform/registry/WinRegistryTest.cpp)
vg_add_win_test(test_config SOURCES config/ConfigTest.cpp config/IniStorageTest.cpp)
vg_add_win_test(test_logging SOURCES config/logging/LogTest.cpp)
# cipherhub: private copies of cipherhub.dll with test modules, the emulation engine and a C client
add_subdirectory(cipherhub)

# sockets; one instance as a window other programs find, and the event loop
vg_add_win_test(test_sockets SOURCES sockets/AddressTest.cpp sockets/EntryTest.cpp sockets/NetTest.cpp
  sockets/SocketErrorTest.cpp)
vg_add_win_test(test_instance SOURCES platform/instance/WindowInstanceTest.cpp platform/instance/EventLoopTest.cpp)
add_executable(vg_argsecho platform/spawn/ArgsEcho.cpp)
set_target_properties(vg_argsecho PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
vg_add_win_test(test_spawn SOURCES platform/spawn/SpawnTest.cpp DEPENDS vg_argsecho)
