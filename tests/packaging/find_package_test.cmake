# Installs the built library into a fresh prefix, then configures, builds and runs the
# example host of examples/embedding against it through find_package: the installed
# package must be complete on its own (headers, exported target, dependencies).
#
#   cmake -DBUILD_DIR=.. -DSOURCE_DIR=.. -DWORK_DIR=.. -DCXX_FLAGS=.. -P find_package_test.cmake
foreach(variable BUILD_DIR SOURCE_DIR WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is required")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/embedding -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/example-host ${WORK_DIR}/data)
if(NOT output MATCHES "load the copy bundled with the host")
  message(FATAL_ERROR "unexpected output of the example host:\n${output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "find_package(QelvoLiveUpdates) works from ${prefix}")
