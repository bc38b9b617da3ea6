# Builds the Debian packages of the built tree with cpack, then checks each as dpkg sees
# it: its control fields (name, version, dependencies from dpkg-shlibdeps), that apt can
# install all three on this system, and its files, installed by dpkg into a scratch
# root (unpacked there: the system libraries they depend on are this machine's, and
# their maintainer scripts would run on it): the example host builds with pkg-config
# against the installed -dev and library packages and runs, the installed
# qelvo-live-update runs on its own, and the units name the packaged program.
#
#   cmake -DBUILD_DIR=.. -DSOURCE_DIR=.. -DWORK_DIR=.. -DCXX=.. -DCXX_FLAGS=.. -DSHARED=ON
#         [-DEMULATOR=.. -DPKG_CONFIG_LIBDIR=.. -DDEBIAN_ARCH=arm64] -P debian_packages_test.cmake
# A cross build's packages are for its architecture: apt resolves them against this
# machine's packages of that architecture (multiarch), and the programs run under the
# emulator.
include(${CMAKE_CURRENT_LIST_DIR}/packaging_helpers.cmake)
require_variables(BUILD_DIR SOURCE_DIR WORK_DIR CXX)
set(SHARED ON)

file(REMOVE_RECURSE ${WORK_DIR})
run(cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/packages)
file(GLOB debs ${WORK_DIR}/packages/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 3)
  message(FATAL_ERROR "expected three packages, got: ${debs}")
endif()

# The control field `field` of the package file `deb`, in `value`.
function(control_field deb field)
  run(dpkg-deb -f ${deb} ${field})
  string(STRIP "${output}" stripped)
  set(value "${stripped}" PARENT_SCOPE)
endfunction()

function(expect_depends deb)
  control_field(${deb} Depends)
  foreach(dependency ${ARGN})
    if(NOT value MATCHES "(^|, )${dependency}( |,|$)")
      message(FATAL_ERROR "${deb} does not depend on ${dependency}: ${value}")
    endif()
  endforeach()
  set(depends "${value}" PARENT_SCOPE)
endfunction()

# The packages' architecture: the target's for a cross build (-DDEBIAN_ARCH), else this
# machine's.
if(NOT DEBIAN_ARCH)
  run(dpkg --print-architecture)
  string(STRIP "${output}" DEBIAN_ARCH)
endif()

set(root ${WORK_DIR}/root)
foreach(deb ${debs})
  control_field(${deb} Package)
  set(package ${value})
  control_field(${deb} Version)
  if(NOT value STREQUAL "0.1.0-1")
    message(FATAL_ERROR "${deb} has version ${value}")
  endif()
  control_field(${deb} Architecture)
  if(NOT value STREQUAL DEBIAN_ARCH)
    message(FATAL_ERROR "${deb} is for ${value}, not ${DEBIAN_ARCH}")
  endif()
  run(dpkg-deb -c ${deb})
  set(contents_${package} "${output}")
  set(deb_${package} ${deb})
endforeach()
file(MAKE_DIRECTORY ${root}/var/lib/dpkg/info ${root}/var/lib/dpkg/updates)
file(TOUCH ${root}/var/lib/dpkg/status)
# (A cross build's packages are for another architecture than the scratch root's dpkg.)
run(dpkg --root=${root} --force-depends --force-architecture --force-not-root --log=/dev/null
    --unpack ${debs})
run(dpkg --root=${root} --listfiles qelvo-tools)
if(NOT output MATCHES "/usr/bin/qelvo-live-update\n")
  message(FATAL_ERROR "dpkg does not know the files of qelvo-tools:\n${output}")
endif()

foreach(package libqelvo-liveupdates0.1 libqelvo-liveupdates-dev qelvo-tools)
  if(NOT DEFINED deb_${package})
    message(FATAL_ERROR "no package ${package} among ${debs}")
  endif()
endforeach()
set(system_libraries libc6 libcurl4 libsqlite3-0 libssl3 libstdc\\+\\+6 libzip4 libzstd1)
expect_depends(${deb_libqelvo-liveupdates0.1} ${system_libraries})
expect_depends(${deb_libqelvo-liveupdates-dev} "libqelvo-liveupdates0\\.1 \\(= 0\\.1\\.0-1\\)")
# The tools carry the library inside them: a device needs this package alone.
expect_depends(${deb_qelvo-tools} ${system_libraries})
if(depends MATCHES "qelvo")
  message(FATAL_ERROR "qelvo-tools depends on another package of the library: ${depends}")
endif()
control_field(${deb_libqelvo-liveupdates0.1} Section)
if(NOT value STREQUAL "libs")
  message(FATAL_ERROR "the library's section is ${value}")
endif()

foreach(expected "libqelvo-liveupdates0.1:/usr/lib/[^\n]*libqelvo-liveupdates\\.so\\.0\\.1 "
                 "libqelvo-liveupdates-dev:/usr/include/qelvo/qelvo\\.h"
                 "libqelvo-liveupdates-dev:/usr/include/qelvo/export\\.h"
                 "libqelvo-liveupdates-dev:/usr/lib/[^\n]*libqelvo-liveupdates\\.so -> "
                 "libqelvo-liveupdates-dev:/usr/lib/[^\n]*cmake/QelvoLiveUpdates/QelvoLiveUpdatesConfig\\.cmake"
                 "libqelvo-liveupdates-dev:/usr/lib/[^\n]*pkgconfig/qelvo-liveupdates\\.pc"
                 "qelvo-tools:/usr/bin/qelvo-live-update"
                 "qelvo-tools:/usr/bin/qelvo-publish"
                 "qelvo-tools:/usr/bin/qelvo-deploy-server"
                 "qelvo-tools:/usr/lib/systemd/system/qelvo-live-update@\\.service"
                 "qelvo-tools:/usr/lib/systemd/system/qelvo-live-update-sync@\\.service"
                 "qelvo-tools:/usr/lib/systemd/system/qelvo-live-update-sync@\\.timer"
                 "qelvo-tools:/usr/share/qelvo-live-update/example\\.conf")
  string(REGEX MATCH "^[^:]+" package "${expected}")
  string(REGEX REPLACE "^[^:]+:" "" path "${expected}")
  if(NOT contents_${package} MATCHES "\\.${path}")
    message(FATAL_ERROR "${package} lacks ${path}:\n${contents_${package}}")
  endif()
endforeach()
if(contents_qelvo-tools MATCHES "\\.so" OR contents_libqelvo-liveupdates0.1 MATCHES "include/")
  message(FATAL_ERROR "files in the wrong package:\n${contents_qelvo-tools}\n${contents_libqelvo-liveupdates0.1}")
endif()

# apt resolves every dependency of the three on this system (it only simulates).
run(apt-get install --simulate --no-install-recommends ${debs})

# The installed packages work where they lie: a host builds against them with pkg-config
# alone, and the tools run without anything else of the library.
file(GLOB_RECURSE pc_files ${root}/*/qelvo-liveupdates.pc)
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
build_with_pkg_config(${pc_dir} ${WORK_DIR}/example-host)
expect_example_host(${WORK_DIR}/example-host ${WORK_DIR}/data)
built_program_command(${root}/usr/bin/qelvo-live-update)
execute_process(COMMAND ${command} RESULT_VARIABLE result
                ERROR_VARIABLE usage OUTPUT_QUIET)
if(NOT result EQUAL 2 OR NOT usage MATCHES "usage: qelvo-live-update")
  message(FATAL_ERROR "the installed qelvo-live-update does not run (${result}):\n${usage}")
endif()
file(READ ${root}/usr/lib/systemd/system/qelvo-live-update@.service unit)
if(NOT unit MATCHES "\nExecStart=/usr/bin/qelvo-live-update [^\n]* watch ")
  message(FATAL_ERROR "the packaged unit does not run /usr/bin/qelvo-live-update watch:\n${unit}")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "the Debian packages build, resolve, install and work in a scratch root")
