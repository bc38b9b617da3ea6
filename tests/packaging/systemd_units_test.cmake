# Installs the tools into a fresh prefix and checks the systemd units installed with
# them: each service runs the installed qelvo-live-update by its full path (watch, or
# one sync), the timer spreads its runs, and `systemd-analyze verify` accepts all three
# (it also checks that the program they run exists). On a machine without
# systemd-analyze (scripts/install-deps installs it) the test reports itself SKIPPED
# after the checks it can make without it.
#
#   cmake -DBUILD_DIR=.. -DWORK_DIR=.. -P systemd_units_test.cmake
include(${CMAKE_CURRENT_LIST_DIR}/packaging_helpers.cmake)
require_variables(BUILD_DIR WORK_DIR)

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component tools)
set(units ${prefix}/lib/systemd/system)
set(program ${prefix}/bin/qelvo-live-update)

function(expect_unit name)
  file(READ ${units}/${name} text)
  foreach(pattern ${ARGN})
    if(NOT text MATCHES "${pattern}")
      message(FATAL_ERROR "${name} does not match ${pattern}:\n${text}")
    endif()
  endforeach()
endfunction()
expect_unit(qelvo-live-update@.service "\n\\[Service\\]\n" "\nExecStart=${program} [^\n]* watch "
            "\nUser=%i\n" "\nStateDirectory=qelvo-live-update/%i\n" "\nNoNewPrivileges=true\n"
            "\nProtectSystem=strict\n" "\nWantedBy=multi-user.target\n")
expect_unit(qelvo-live-update-sync@.service "\nType=oneshot\n"
            "\nExecStart=${program} [^\n]* sync \\$QELVO_APPS\n" "\nProtectSystem=strict\n")
expect_unit(qelvo-live-update-sync@.timer "\n\\[Timer\\]\n" "\nRandomizedDelaySec=[^\n]+\n"
            "\nWantedBy=timers.target\n")

find_program(SYSTEMD_ANALYZE systemd-analyze)
if(NOT SYSTEMD_ANALYZE)
  message(STATUS "SKIPPED: systemd-analyze is not installed (package systemd); only the units' "
                 "text was checked, `systemd-analyze verify` did not run")
  return()
endif()
run(${SYSTEMD_ANALYZE} verify --man=no ${units}/qelvo-live-update@.service
    ${units}/qelvo-live-update-sync@.service ${units}/qelvo-live-update-sync@.timer)
if(NOT output STREQUAL "")
  message(FATAL_ERROR "systemd-analyze verify warns about the units:\n${output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "the systemd units verify")
