# The only place besides the per-component source lists that knows the platform.
if(WIN32)
  set(QUORVEL_POSIX OFF)
  set(QUORVEL_EXE_NAME Quorvel)
  # The executable's version resource (cmake/WindowsDownload.cmake).
  enable_language(RC)
  # Static runtime: the test executables run under Wine without mingw DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
else()
  set(QUORVEL_POSIX ON)
  set(QUORVEL_EXE_NAME quorvel)
  # Find the project's own modules next to the executable in the build tree and in
  # the install's module folder (InstallDirs.cmake) when installed; LD_LIBRARY_PATH
  # still comes first (DT_RUNPATH).
  set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
  set(CMAKE_INSTALL_RPATH "$ORIGIN/${QUORVEL_MODULES_FROM_BIN}")
  set(CMAKE_BUILD_RPATH "$ORIGIN")
  add_link_options(-Wl,--enable-new-dtags)
endif()
