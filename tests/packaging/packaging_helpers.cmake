# What the packaging tests share: their arguments, running commands, building and
# running the example host, and checking what a shared library exports.

# Fails the test unless every named variable was given (-DNAME=...).
function(require_variables)
  foreach(variable ${ARGN})
    if(NOT DEFINED ${variable})
      message(FATAL_ERROR "${variable} is required")
    endif()
  endforeach()
endfunction()

# Runs a command; fails the test when it fails. Its output (standard output and error
# together) is left in `output`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

# The command line that runs a program built by the tree: a cross build's (given
# -DEMULATOR="qemu-aarch64 -L ...") runs under its emulator. In `command`.
function(built_program_command program)
  separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")
  set(command ${emulator} ${program} PARENT_SCOPE)
endfunction()

# Runs the example host on an empty data directory: it must start, find no snapshot and
# say so.
function(expect_example_host program data)
  built_program_command(${program})
  run(${command} ${data})
  if(NOT output MATCHES "load the copy bundled with the host")
    message(FATAL_ERROR "unexpected output of ${program}:\n${output}")
  endif()
endfunction()

# Builds examples/embedding/main.cpp into `program` with the compiler and the flags that
# `pkg-config qelvo-liveupdates` gives (--static for a static library), finding the .pc
# file in `pc_dir` before any other. The library's directory goes into the program's run
# path.
function(build_with_pkg_config pc_dir program)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  # A cross build's dependencies are the target's (-DPKG_CONFIG_LIBDIR=/usr/lib/<triplet>/...).
  if(PKG_CONFIG_LIBDIR)
    set(ENV{PKG_CONFIG_LIBDIR} ${PKG_CONFIG_LIBDIR})
  endif()
  set(static "")
  if(NOT SHARED)
    set(static --static)
  endif()
  run(pkg-config --cflags --libs ${static} qelvo-liveupdates)
  separate_arguments(flags UNIX_COMMAND "${output}")
  run(pkg-config --variable=libdir qelvo-liveupdates)
  string(STRIP "${output}" libdir)
  separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS}")
  run(${CXX} -std=c++23 ${cxx_flags} ${SOURCE_DIR}/examples/embedding/main.cpp ${flags}
      -Wl,-rpath,${libdir} -o ${program})
endfunction()

# The shared library names its minor version in its soname and exports the public API
# (names the headers declare) and none of the library's internal classes and functions.
function(expect_public_symbols_only library)
  run(readelf -d ${library})
  if(NOT output MATCHES "SONAME[^\n]*\\[libqelvo-liveupdates\\.so\\.0\\.1\\]")
    message(FATAL_ERROR "unexpected soname of ${library}:\n${output}")
  endif()
  run(nm -DC --defined-only ${library})
  set(exported "${output}")
  foreach(public "qelvo::LiveUpdateManager::sync(" "qelvo::LiveUpdateManager::shared()"
                 "qelvo::SecureLiveUpdateManager::SecureLiveUpdateManager("
                 "qelvo::configureHost(" "qelvo::configureDeployService(" "qelvo::Url::parse("
                 "qelvo::SyncError::errorDescription" "qelvo::SyncError::retryAfter()"
                 "typeinfo for qelvo::SyncError" "typeinfo for qelvo::CancellationError")
    string(FIND "${exported}" "${public}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${library} does not export ${public}")
    endif()
  endforeach()
  # Members of internal classes, internal functions, and the libraries it links.
  set(class "(typeinfo for |typeinfo name for |vtable for )?qelvo::(TransferEngine|Transfer|SyncExecutor|SyncTask|ZipExtractor|FileManagerUtil|KeyValueSuite|RsaPublicKey|ProgressReporter|QelvoLogger)::")
  set(function "qelvo::(parseRetryAfter|printLine|checkForUpdate|platform::)")
  string(REPLACE "\n" ";" symbols "${exported}")
  foreach(symbol IN LISTS symbols)
    if(symbol MATCHES "^[0-9a-f]+ [A-Za-z] (${class}|${function}|curl_|sqlite3_|zip_|EVP_)")
      message(FATAL_ERROR "${library} exports an internal symbol: ${symbol}")
    endif()
  endforeach()
endfunction()
