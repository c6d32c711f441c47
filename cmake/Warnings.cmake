# quorvel_warnings: an interface target every project target links, so the
# warning set lives in one place.
add_library(quorvel_warnings INTERFACE)
target_compile_options(quorvel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
  -Wimplicit-fallthrough -Wformat=2)
if(QUORVEL_WERROR)
  target_compile_options(quorvel_warnings INTERFACE -Werror)
endif()
