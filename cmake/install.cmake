# Install rules and Debian packages, in three components: the library's
# runtime (the shared library), its development part (header, static library,
# pkg-config file, CMake package) and the programs.
include(CMakePackageConfigHelpers)

set(worldlink_targets worldlink_static)
if(TARGET worldlink_shared)
  list(APPEND worldlink_targets worldlink_shared)
endif()
install(TARGETS ${worldlink_targets} EXPORT worldlink-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/worldlink/worldlink.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/worldlink COMPONENT development)

set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/worldlink)
install(EXPORT worldlink-targets NAMESPACE worldlink:: DESTINATION ${cmake_dir} COMPONENT development)
configure_package_config_file(cmake/worldlink-config.cmake.in
  ${PROJECT_BINARY_DIR}/worldlink-config.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/worldlink-config-version.cmake
  VERSION ${WORLDLINK_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/worldlink-config.cmake ${PROJECT_BINARY_DIR}/worldlink-config-version.cmake
  DESTINATION ${cmake_dir} COMPONENT development)

# The prefix is found from the file's own place, so an install with
# --prefix or a moved tree still points at itself. A static link needs the
# C++ runtime beside the library, and sockets on Windows.
file(RELATIVE_PATH pc_up /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" pc_up "${pc_up}")
cmake_path(APPEND pc_libdir "\${prefix}" ${CMAKE_INSTALL_LIBDIR})
cmake_path(APPEND pc_includedir "\${prefix}" ${CMAKE_INSTALL_INCLUDEDIR})
set(pc_libs_private "-lstdc++ -lm")
if(WIN32)
  string(APPEND pc_libs_private " -lws2_32")
endif()
configure_file(cmake/worldlink.pc.in ${PROJECT_BINARY_DIR}/worldlink.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/worldlink.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

foreach(program skyflit worldsim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  endif()
endforeach()

if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
set(CPACK_PACKAGE_NAME skyflit)
set(CPACK_PACKAGE_VENDOR Skyflit)
set(CPACK_PACKAGE_CONTACT "Skyflit developers <skyflit@localhost>")
set(CPACK_PACKAGE_VERSION ${WORLDLINK_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "A flock of flying bots for a 3D chat world, and its client library")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL runtime development programs)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libworldlink${WORLDLINK_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libworldlink-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME skyflit)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION net)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "worldlink, a client library for the universe and world servers of a 3D chat platform")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "worldlink: header, static library, pkg-config file and CMake package")
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION "Skyflit, a flock of flying bots, and worldsim, a local universe and world server")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
include(CPack)
