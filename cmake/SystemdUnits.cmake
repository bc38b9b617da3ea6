# The systemd units of the command-line host (deploy/systemd/qelvo-live-update*), and an
# example of the configuration they read, installed with the tools. A unit names the
# installed qelvo-live-update by its full path, which is known only when installing
# (`cmake --install --prefix`, a package), so the units are made then.
set(QELVO_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
    "Where the systemd units are installed, relative to the prefix")

set(QELVO_UNITS_SOURCE ${PROJECT_SOURCE_DIR}/deploy/systemd)
set(QELVO_UNITS_BUILT ${PROJECT_BINARY_DIR}/systemd)
# Made in a directory of each destination's own: installs into several places may run at
# once (the packaging tests do).
install(CODE "
  set(QELVO_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  string(MD5 destination \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(built \"${QELVO_UNITS_BUILT}/\${destination}\")
  foreach(unit qelvo-live-update@.service qelvo-live-update-sync@.service)
    configure_file(\"${QELVO_UNITS_SOURCE}/\${unit}.in\" \"\${built}/\${unit}\" @ONLY)
  endforeach()
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${QELVO_SYSTEMD_UNIT_DIR}\" TYPE FILE
       FILES \"\${built}/qelvo-live-update@.service\"
             \"\${built}/qelvo-live-update-sync@.service\"
             \"${QELVO_UNITS_SOURCE}/qelvo-live-update-sync@.timer\")
" COMPONENT tools)
install(FILES ${QELVO_UNITS_SOURCE}/qelvo-live-update.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/qelvo-live-update RENAME example.conf
        COMPONENT tools)
