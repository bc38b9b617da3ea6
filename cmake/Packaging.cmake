# The installed CMake package: `cmake --install` puts the library, its headers and
# lib/cmake/QelvoLiveUpdates/ in place, so that a host project finds it with
# find_package(QelvoLiveUpdates) and links Qelvo::LiveUpdates.
include(CMakePackageConfigHelpers)

set(QELVO_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QelvoLiveUpdates)

install(EXPORT QelvoLiveUpdatesTargets NAMESPACE Qelvo:: DESTINATION ${QELVO_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QelvoLiveUpdatesConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/QelvoLiveUpdatesConfig.cmake
                              INSTALL_DESTINATION ${QELVO_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QelvoLiveUpdatesConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QelvoLiveUpdatesConfig.cmake
              ${PROJECT_BINARY_DIR}/QelvoLiveUpdatesConfigVersion.cmake
        DESTINATION ${QELVO_PACKAGE_DIR})
