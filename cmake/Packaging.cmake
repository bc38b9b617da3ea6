# The installed development package: `cmake --install` puts the library, its headers,
# lib/cmake/QelvoLiveUpdates/ and lib/pkgconfig/qelvo-liveupdates.pc in place, so that
# a host project finds it with find_package(QelvoLiveUpdates) and links
# Qelvo::LiveUpdates, or, without CMake, with `pkg-config qelvo-liveupdates`.
include(CMakePackageConfigHelpers)

set(QELVO_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QelvoLiveUpdates)

install(EXPORT QelvoLiveUpdatesTargets NAMESPACE Qelvo:: DESTINATION ${QELVO_PACKAGE_DIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QelvoLiveUpdatesConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/QelvoLiveUpdatesConfig.cmake
                              INSTALL_DESTINATION ${QELVO_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QelvoLiveUpdatesConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QelvoLiveUpdatesConfig.cmake
              ${PROJECT_BINARY_DIR}/QelvoLiveUpdatesConfigVersion.cmake
        DESTINATION ${QELVO_PACKAGE_DIR} COMPONENT development)

# The pkg-config file finds its prefix from where it lies (pkgconf's ${pcfiledir}), so
# it stays right wherever the tree is installed (`--prefix`, DESTDIR, a package). A
# static library names what it links, for `--static`: the pkg-config modules, except
# libcurl, named by its library alone. libcurl's own static link line names a dozen
# libraries whose development files Debian does not install with libcurl's, and a host
# links libcurl's shared library anyway.
set(QELVO_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(QELVO_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(QELVO_PC_LIBDIR ${CMAKE_INSTALL_FULL_LIBDIR})
  set(QELVO_PC_INCLUDEDIR ${CMAKE_INSTALL_FULL_INCLUDEDIR})
else()
  file(RELATIVE_PATH QELVO_PC_PREFIX /prefix/${QELVO_PKGCONFIG_DIR} /prefix)
  string(REGEX REPLACE "/$" "" QELVO_PC_PREFIX "${QELVO_PC_PREFIX}")
  set(QELVO_PC_PREFIX "\${pcfiledir}/${QELVO_PC_PREFIX}")
  set(QELVO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(QELVO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
if(BUILD_SHARED_LIBS)
  set(QELVO_PC_PRIVATE "")
else()
  set(QELVO_PC_PRIVATE "Requires.private: libzip openssl sqlite3 libzstd\nLibs.private: -lcurl -pthread\n")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/qelvo-liveupdates.pc.in
               ${PROJECT_BINARY_DIR}/qelvo-liveupdates.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qelvo-liveupdates.pc DESTINATION ${QELVO_PKGCONFIG_DIR}
        COMPONENT development)
