# Installation layout and the Debian package (cpack -G DEB in the build tree).
#
# The package holds the programs, the module libraries, and the demo hand-off
# helpers with the demo's information file as examples only: the real helpers
# belong to the module's own Linux start-up, and a packaged "./kexec" that
# merely logs would quietly keep the protected system from booting.

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(PROGRAMS
    scripts/demo/kexec
    scripts/demo/kexec-boot-from-cd
    scripts/demo/kexec-boot-from-cd-emul-ram
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES scripts/demo/orvainfo.txt DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orva)
set(CPACK_PACKAGE_VENDOR "ORVA")
set(CPACK_PACKAGE_CONTACT "ORVA developers <orva@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ORVA trusted-boot module: pre-boot logon and integrity check")
set(CPACK_PACKAGE_DESCRIPTION
  "The program the ORVA trusted-boot module starts at power-on (orva-ng-gui): \
logon with a touch-memory identifier and password, the boot-time integrity check \
of hardware, partition tables, files and Windows registry branches, the hand-over \
to the operating system and the administration environment; orva-ic, the same \
checks from the command line; and the simulated module (liborva, libtmid, orva-sim).")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# Libraries from dpkg-shlibdeps; the programs these ones start or need at run
# time are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR}/platform")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ntfs-3g, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "vmfs-tools, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "kexec-tools")
# CPack's own maintainer scripts run ldconfig for the two libraries.
include(CPack)
