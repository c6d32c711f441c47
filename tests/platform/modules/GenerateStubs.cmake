# Writes a C++ source that exports one empty function per name in NAMES (a file,
# one name per line), except the names in OMIT. The bindings only look the
# names up; the few that tests call are written by hand beside this script.
# cmake -DNAMES=file -DOMIT=a,b -DOUT=file.cpp -P GenerateStubs.cmake
cmake_minimum_required(VERSION 3.25)
file(STRINGS ${NAMES} names)
string(REPLACE "," ";" OMIT "${OMIT}")
set(text "// Generated from ${NAMES}; do not edit.\n")
foreach(name IN LISTS names)
  if(NOT name IN_LIST OMIT)
    string(APPEND text "extern \"C\" __attribute__((visibility(\"default\"))) void ${name}() {}\n")
  endif()
endforeach()
file(WRITE ${OUT}.tmp "${text}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
