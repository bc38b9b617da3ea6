# Debian packages of everything `cmake --install` puts in place: `cpack -G DEB` in a
# tree configured with -DBUILD_SHARED_LIBS=ON (scripts/package makes such a tree) gives
#
#   libqelvo-liveupdates<soversion>  the shared library
#   libqelvo-liveupdates-dev         headers, the CMake package, the pkg-config file
#   qelvo-tools                      qelvo-live-update, qelvo-publish and
#                                    qelvo-deploy-server, with the systemd units
#
# Dependencies on other packages come from dpkg-shlibdeps (what the binaries link);
# the -dev package depends on its library of the same version. The tools link the
# library statically, so a device needs qelvo-tools alone.
set(CPACK_PACKAGE_NAME qelvo-liveupdates)
set(CPACK_PACKAGE_VENDOR "QelvoLiveUpdates")
set(CPACK_PACKAGE_CONTACT "QelvoLiveUpdates developers <dev@qelvo.dev>")
set(CPACK_GENERATOR DEB)
# The install runs with /usr as CMAKE_INSTALL_PREFIX (the units name the tools by it),
# whatever prefix the tree was configured with, and the staging directory as DESTDIR.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://qelvo.dev")
# Each package's description below: its first line is the package's summary.

set(QELVO_RUNTIME_PACKAGE libqelvo-liveupdates${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
set(QELVO_PACKAGE_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${QELVO_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "over-the-air updates of embedded web bundles (library)
QelvoLiveUpdates keeps the web bundles that a native host embeds up to date over
the air. This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libqelvo-liveupdates-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "over-the-air updates of embedded web bundles (development files)
QelvoLiveUpdates keeps the web bundles that a native host embeds up to date over
the air. This package holds the headers, the CMake package (find_package) and the
pkg-config file (qelvo-liveupdates).")
if(BUILD_SHARED_LIBS)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${QELVO_RUNTIME_PACKAGE} (= ${QELVO_PACKAGE_VERSION})")
  set(CPACK_COMPONENTS_ALL runtime development)
else()
  # A static library: its users link what it links.
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
      "libcurl4-openssl-dev | libcurl-dev, libzip-dev, libssl-dev, libsqlite3-dev, libzstd-dev")
  set(CPACK_COMPONENTS_ALL development)
endif()

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qelvo-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "over-the-air updates of embedded web bundles (tools)
QelvoLiveUpdates keeps the web bundles that a native host embeds up to date over
the air. This package holds qelvo-live-update, with the systemd units that keep a
device up to date, and qelvo-publish and qelvo-deploy-server for the deploy service.")
if(QELVO_BUILD_TOOLS OR QELVO_BUILD_TESTS)
  list(APPEND CPACK_COMPONENTS_ALL tools)
endif()

include(CPack)
