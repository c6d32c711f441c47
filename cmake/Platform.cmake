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

# The shipped program and its modules carry the C++ library inside, each its own private copy
# (as the Windows build does): loading libstdc++.so and resolving its thousands of symbol
# relocations was most of a run's start-up. The unwinder is linked in too: each shared
# object a run loads costs some 0.3 ms of mapping and page faults, and libgcc_s was one
# more only for it. Each copy finds the unwind tables of every loaded object through the
# C library (_dl_find_object), so an exception still unwinds across them. Sanitizer builds
# keep the shared libraries their interceptors expect; a distribution that wants the
# shared ones turns the option off.
option(QUORVEL_PRIVATE_CXX_RUNTIME
       "Link the C++ library and the unwinder into the tool and its modules" ON)
function(quorvel_private_cxx_runtime target)
  if(WIN32 OR NOT QUORVEL_PRIVATE_CXX_RUNTIME OR CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    return()
  endif()
  target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc LINKER:--exclude-libs,ALL
                      LINKER:--as-needed LINKER:-O1)
endfunction()
