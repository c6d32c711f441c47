# Where an installed tree puts things, decided before any target exists so that the
# executable's run path can point at its modules. Install.cmake holds the rules.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR})
  # The multiarch folder whatever the prefix (Debian's loader searches it under
  # /usr/local too), so a staged tree and the package have one layout.
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH
      "Object code libraries (lib/<multiarch>)")
endif()
# The documentation folder is named after the package, not the CMake project.
set(CMAKE_INSTALL_DOCDIR "share/doc/quorvel" CACHE PATH "Documentation (share/doc/quorvel)")
include(GNUInstallDirs)

# The private modules: the real platform modules and the POSIX kernel functions, which
# no other program links by name.
set(QUORVEL_INSTALL_MODULEDIR "${CMAKE_INSTALL_LIBDIR}/quorvel")
# The same folder seen from the executable's, for its run path and for the loader's own
# search where a sanitizer hides the run path.
file(RELATIVE_PATH QUORVEL_MODULES_FROM_BIN "/${CMAKE_INSTALL_BINDIR}"
     "/${QUORVEL_INSTALL_MODULEDIR}")
