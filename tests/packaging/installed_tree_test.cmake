# Installs the built tree into a fresh prefix, then builds and runs the example host of
# examples/embedding against the installed library twice: through find_package, and
# with pkg-config alone (a compiler command line, no CMake). The installed package must
# be complete on its own: headers, exported target or .pc file, dependencies. A shared
# library must also carry its soname and export the public API and nothing of the
# library's insides.
#
#   cmake -DBUILD_DIR=.. -DSOURCE_DIR=.. -DWORK_DIR=.. -DCXX=.. -DCXX_FLAGS=.. -DSHARED=ON|OFF
#         [-DTOOLCHAIN_FILE=.. -DEMULATOR=.. -DPKG_CONFIG_LIBDIR=..] -P installed_tree_test.cmake
# (the last three for a cross build: its toolchain, the emulator that runs what it
# builds, and where pkg-config finds the target's libraries)
include(${CMAKE_CURRENT_LIST_DIR}/packaging_helpers.cmake)
require_variables(BUILD_DIR SOURCE_DIR WORK_DIR CXX SHARED)

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# find_package(QelvoLiveUpdates), with the tree's toolchain file when it has one (-DTOOLCHAIN_FILE)
set(toolchain "")
if(TOOLCHAIN_FILE)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE})
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/embedding -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    ${toolchain})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
expect_example_host(${WORK_DIR}/build/example-host ${WORK_DIR}/data)

# pkg-config qelvo-liveupdates
file(GLOB_RECURSE pc_files ${prefix}/*/qelvo-liveupdates.pc)
if(NOT pc_files)
  message(FATAL_ERROR "no qelvo-liveupdates.pc installed under ${prefix}")
endif()
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
build_with_pkg_config(${pc_dir} ${WORK_DIR}/example-host-pc)
expect_example_host(${WORK_DIR}/example-host-pc ${WORK_DIR}/data-pc)

if(SHARED)
  run(pkg-config --variable=libdir qelvo-liveupdates)
  string(STRIP "${output}" libdir)
  expect_public_symbols_only(${libdir}/libqelvo-liveupdates.so)
  run(readelf -d ${WORK_DIR}/example-host-pc)
  if(NOT output MATCHES "NEEDED[^\n]*libqelvo-liveupdates\\.so\\.0\\.1")
    message(FATAL_ERROR "the host built with pkg-config does not link the shared library:\n${output}")
  endif()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "find_package(QelvoLiveUpdates) and pkg-config qelvo-liveupdates work from ${prefix}")
