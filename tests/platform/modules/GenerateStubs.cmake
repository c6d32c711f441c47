# Writes a C++ source that exports one empty function per name in NAMES (a file,
# one name per line), except the names in OMIT. The bindings only look the
# names up; the few that tests call are written by hand beside this script.
# With LIST=ON the source also gives the module its own list of the functions it
# writes (platform/ModuleExportList.h), less the names in UNLISTED, which stay
# exports that only the system's look-up finds.
# cmake -DNAMES=file -DOMIT=a,b [-DLIST=ON -DUNLISTED=c,d] -DOUT=file.cpp -P GenerateStubs.cmake
cmake_minimum_required(VERSION 3.25)
file(STRINGS ${NAMES} names)
string(REPLACE "," ";" OMIT "${OMIT}")
string(REPLACE "," ";" UNLISTED "${UNLISTED}")
set(text "// Generated from ${NAMES}; do not edit.\n")
set(listed "")
foreach(name IN LISTS names)
  if(NOT name IN_LIST OMIT)
    string(APPEND text "extern \"C\" __attribute__((visibility(\"default\"))) void ${name}() {}\n")
    if(NOT name IN_LIST UNLISTED)
      string(APPEND listed "  X(${name})")
    endif()
  endif()
endforeach()
if(LIST)
  string(APPEND text "\n#include \"platform/ModuleExportList.h\"\n\n"
                     "#define TEST_MODULE_LISTED(X) \\\n${listed}\n"
                     "namespace {\n"
                     "constexpr const char* kNames[] = {TEST_MODULE_LISTED(QUORVEL_EXPORT_LIST_NAME)};\n"
                     "const quorvel::platform::TEntryPoint kAddresses[] = {\n"
                     "    TEST_MODULE_LISTED(QUORVEL_EXPORT_LIST_ADDRESS)};\n"
                     "}  // namespace\n"
                     "QUORVEL_DEFINE_EXPORT_LIST(kNames, kAddresses);\n")
endif()
file(WRITE ${OUT}.tmp "${text}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
