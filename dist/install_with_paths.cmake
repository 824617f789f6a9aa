# Run by `cmake --install`: fills the installed server's path into the
# systemd units and the inetd example, then installs them. Relative
# directories are taken from the prefix chosen for this installation.
foreach(variable BINDIR UNIT_DIR DOC_DIR)
  if(NOT IS_ABSOLUTE "${BRASSEL_${variable}}")
    set(BRASSEL_${variable} "${CMAKE_INSTALL_PREFIX}/${BRASSEL_${variable}}")
  endif()
endforeach()
set(BINDIR "${BRASSEL_BINDIR}")

# One work folder per destination, so that installations into different
# places at the same time do not write each other's files.
string(MD5 destination "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
set(work "${BRASSEL_WORK_DIR}/${destination}")
foreach(file systemd/brassel.service systemd/brassel@.service inetd.conf)
  configure_file("${BRASSEL_SOURCE_DIR}/dist/${file}.in" "${work}/${file}" @ONLY)
endforeach()
file(INSTALL DESTINATION "${BRASSEL_UNIT_DIR}" TYPE FILE
     FILES "${work}/systemd/brassel.service" "${work}/systemd/brassel@.service")
file(INSTALL DESTINATION "${BRASSEL_DOC_DIR}" TYPE FILE FILES "${work}/inetd.conf")
