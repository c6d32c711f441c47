# The Debian package, quorvel_<version>_<arch>.deb: `cpack --config build/<preset>/CPackConfig.cmake`
# packs what `cmake --install` installs (Install.cmake) under /usr, from the build as it
# stands. The simulated modules have no install rule, so the package has none of them.
if(NOT QUORVEL_POSIX OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorvel authors")
set(CPACK_PACKAGE_CONTACT "${QUORVEL_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "switch the relays of USB HID relay boards")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quorvel switches the relays of USB relay boards of the HID class (boards whose\n"
    "USB product string begins with USBRelay) from a shell or a script: one job per\n"
    "run, with an exit status that says how it went. It reads the kernel's hidraw\n"
    "nodes and sysfs; the tool needs no daemon and no other library.\n"
    ".\n"
    "The package holds the tool, a udev rule that lets the local user and the group\n"
    "plugdev switch the boards, the manual page and the bash completion, and the\n"
    "HID device layer under the tool as a library with a CMake package\n"
    "(find_package(Quorvel), target Quorvel::hid).")
if(TARGET quorvel-mqtt)
  list(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "\n.\n"
       "quorvel-mqtt serves the boards on an MQTT broker, with Home Assistant\n"
       "discovery, run by a systemd service (not enabled at installation).")
endif()
list(JOIN CPACK_DEBIAN_PACKAGE_DESCRIPTION "" CPACK_DEBIAN_PACKAGE_DESCRIPTION)
# Lintian's overrides, each explained in the file.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME quorvel)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# dpkg-shlibdeps names the system libraries the binaries need; the private ones are in
# the package's own module folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${QUORVEL_INSTALL_MODULEDIR}")
# The build keeps its debug information; the package does not.
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/StripStaticLibraries.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
