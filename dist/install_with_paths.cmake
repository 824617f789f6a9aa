# Run by `cmake --install`: fills the installed server's path into the
# systemd units and the inetd example, then installs them. Relative
# directories are taken from the prefix chosen for this installation.
foreach(variable BINDIR UNIT_DIR DOC_DIR)
  if(NOT IS_ABSOLUTE "${BRASSEL_${variable}}")
    set(BRASSEL_${variable} "${CMAKE_INSTALL_PREFIX}/${BRASSEL_${variable}}")
  endif()
endforeach()
set(BINDIR "${BRASSEL_BINDIR}")

foreach(file systemd/brassel.service systemd/brassel@.service inetd.conf)
  configure_file("${BRASSEL_SOURCE_DIR}/dist/${file}.in" "${BRASSEL_WORK_DIR}/${file}" @ONLY)
endforeach()
file(INSTALL DESTINATION "${BRASSEL_UNIT_DIR}" TYPE FILE
     FILES "${BRASSEL_WORK_DIR}/systemd/brassel.service" "${BRASSEL_WORK_DIR}/systemd/brassel@.service")
file(INSTALL DESTINATION "${BRASSEL_DOC_DIR}" TYPE FILE FILES "${BRASSEL_WORK_DIR}/inetd.conf")
