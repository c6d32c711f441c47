# Programs of the Windows build run under Wine (tests through ctest, and any
# program run as a build step), each in this build tree's own prefix, through
# scripts/wine-run.sh: it prepares the prefix once and starts the Wine server
# and Wine's services detached, so that they never hold a test's output open.
# The server stops by itself a while after the last program ends.
if(NOT QUORVEL_WINE64)
  message(WARNING "wine64 not found: the Windows tests cannot run (Debian packages wine, wine64)")
  return()
endif()
find_program(QUORVEL_BASH bash REQUIRED)
set(QUORVEL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVEL_BASH} ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh
                                  ${QUORVEL_WINE64} ${QUORVEL_WINE_PREFIX})
