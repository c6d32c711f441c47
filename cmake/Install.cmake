# `cmake --install`: the tool, its private modules, the udev rule, the man page, the
# shell completion and the documentation, and the HID layer as a library for other
# programs (headers and a CMake package). The folders come from InstallDirs.cmake.
# Linux only: the Windows build ships as a download of its own.
if(NOT QUORVEL_POSIX OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()
include(CMakePackageConfigHelpers)

set(QUORVEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QUORVEL_GENERATED_DIR ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${QUORVEL_GENERATED_DIR})

# The tool and the modules it loads; the modules find libquorvel-posix.so beside them.
if(TARGET quorvel)
  install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The MQTT bridge, where libmosquitto was found, with its service (for the package's /usr
# layout: the unit names /usr/bin/quorvel-mqtt).
if(TARGET quorvel-mqtt)
  install(TARGETS quorvel-mqtt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${QUORVEL_PACKAGING_DIR}/quorvel-mqtt.service DESTINATION lib/systemd/system)
endif()
foreach(module quorvel_linux_setupapi quorvel_linux_hid)
  if(TARGET ${module})
    set_target_properties(${module} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${module} LIBRARY DESTINATION ${QUORVEL_INSTALL_MODULEDIR})
  endif()
endforeach()
set_target_properties(quorvel_posix PROPERTIES INSTALL_RPATH "$ORIGIN")
if(NOT TARGET quorvel_hid)
  install(TARGETS quorvel_posix LIBRARY DESTINATION ${QUORVEL_INSTALL_MODULEDIR})
endif()

# The HID layer for other programs: find_package(Quorvel) gives Quorvel::hid.
if(TARGET quorvel_hid)
  set_target_properties(quorvel_hid PROPERTIES EXPORT_NAME hid)
  set_target_properties(quorvel_platform PROPERTIES EXPORT_NAME platform)
  set_target_properties(quorvel_posix PROPERTIES EXPORT_NAME posix)
  set_target_properties(quorvel_warnings PROPERTIES EXPORT_NAME warnings)
  set_target_properties(quorvel_trace PROPERTIES EXPORT_NAME trace)
  set_target_properties(quorvel_wintypes PROPERTIES EXPORT_NAME wintypes)
  set(QUORVEL_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/quorvel)
  target_include_directories(quorvel_hid INTERFACE
                             $<INSTALL_INTERFACE:${QUORVEL_INSTALL_INCLUDEDIR}>)
  # The headers use C++20.
  target_compile_features(quorvel_hid INTERFACE cxx_std_20)
  # The static libraries name the warning set as a link-only dependency; it carries
  # nothing to a consumer but must be part of the export.
  install(TARGETS quorvel_hid quorvel_platform quorvel_posix quorvel_warnings quorvel_trace
                  quorvel_wintypes
          EXPORT QuorvelTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${QUORVEL_INSTALL_MODULEDIR})
  # The headers a program of the layer includes: every header of hid/ and the record-type
  # and platform headers they include. A header that moves between these folders is updated here;
  # the consumer test (tests/install) builds against exactly this set.
  install(DIRECTORY hid/ DESTINATION ${QUORVEL_INSTALL_INCLUDEDIR}/hid
          FILES_MATCHING PATTERN "*.h")
  install(FILES wintypes/WinTypes.h wintypes/WinTypesPosix.h
          DESTINATION ${QUORVEL_INSTALL_INCLUDEDIR}/wintypes)
  install(FILES platform/posix/Kernel.h DESTINATION ${QUORVEL_INSTALL_INCLUDEDIR}/platform/posix)

  set(QUORVEL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvel)
  install(EXPORT QuorvelTargets NAMESPACE Quorvel:: DESTINATION ${QUORVEL_INSTALL_CMAKEDIR})
  configure_package_config_file(${QUORVEL_PACKAGING_DIR}/QuorvelConfig.cmake.in
                                ${QUORVEL_GENERATED_DIR}/QuorvelConfig.cmake
                                INSTALL_DESTINATION ${QUORVEL_INSTALL_CMAKEDIR})
  write_basic_package_version_file(${QUORVEL_GENERATED_DIR}/QuorvelConfigVersion.cmake
                                   COMPATIBILITY SameMajorVersion)
  install(FILES ${QUORVEL_GENERATED_DIR}/QuorvelConfig.cmake
                ${QUORVEL_GENERATED_DIR}/QuorvelConfigVersion.cmake
          DESTINATION ${QUORVEL_INSTALL_CMAKEDIR})
endif()

# The udev rule, in the prefix's lib/udev/rules.d (/usr/lib/udev/rules.d for the
# package; a /usr/local install must copy it to /etc/udev/rules.d itself).
install(FILES ${QUORVEL_PACKAGING_DIR}/70-quorvel.rules DESTINATION lib/udev/rules.d)
install(FILES ${QUORVEL_PACKAGING_DIR}/quorvel.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quorvel)

# The copyright file: the license in Debian's machine-readable form.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(REGEX REPLACE "\n$" "" license_text "${license_text}")
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REGEX REPLACE "\n" "\n " license_text "${license_text}")
set(QUORVEL_LICENSE_TEXT " ${license_text}")
configure_file(${QUORVEL_PACKAGING_DIR}/copyright.in ${QUORVEL_GENERATED_DIR}/copyright @ONLY)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE)

# The changelog names the release; SOURCE_DATE_EPOCH fixes its date for a reproducible build.
string(TIMESTAMP QUORVEL_RELEASE_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
set(QUORVEL_PACKAGE_CONTACT "The Quorvel authors <maintainers@quorvel.invalid>" CACHE STRING
    "The maintainer named by the package and its changelog")
configure_file(${QUORVEL_PACKAGING_DIR}/changelog.in ${QUORVEL_GENERATED_DIR}/changelog @ONLY)

# The man pages carry the project's version.
set(QUORVEL_MAN_PAGE ${QUORVEL_GENERATED_DIR}/quorvel.1)
configure_file(${PROJECT_SOURCE_DIR}/docs/man/quorvel.1.in ${QUORVEL_MAN_PAGE} @ONLY)
set(QUORVEL_MAN_PAGES ${QUORVEL_MAN_PAGE})
if(TARGET quorvel-mqtt)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/quorvel-mqtt.1.in
                 ${QUORVEL_GENERATED_DIR}/quorvel-mqtt.1 @ONLY)
  list(APPEND QUORVEL_MAN_PAGES ${QUORVEL_GENERATED_DIR}/quorvel-mqtt.1)
endif()

# Compressed as Debian wants them (gzip -9n: no name, no time stamp); man reads them so too.
set(compressed)
foreach(source ${QUORVEL_MAN_PAGES} ${QUORVEL_GENERATED_DIR}/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${QUORVEL_GENERATED_DIR}/${name}.gz
                     COMMAND gzip -9n -c ${source} > ${QUORVEL_GENERATED_DIR}/${name}.gz
                     DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${QUORVEL_GENERATED_DIR}/${name}.gz)
endforeach()
add_custom_target(quorvel_install_files ALL DEPENDS ${compressed})
install(FILES ${QUORVEL_GENERATED_DIR}/quorvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET quorvel-mqtt)
  install(FILES ${QUORVEL_GENERATED_DIR}/quorvel-mqtt.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${QUORVEL_GENERATED_DIR}/copyright ${QUORVEL_GENERATED_DIR}/changelog.gz
              README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs PATTERN man EXCLUDE)
