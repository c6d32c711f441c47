# The Windows download holds the built Quorvel.exe and the README in one folder, and the
# executable needs no DLL beyond the system's.
#   cmake -DZIP=... -DNAME=... -DEXE=... -DREADME=... -DOBJDUMP=... -DWORK=... -P this
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot unpack ${ZIP}")
endif()
foreach(pair "Quorvel.exe|${EXE}" "README.md|${README}")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 file)
  list(GET pair 1 original)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${NAME}/${file} ${original}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${NAME}/${file} in the zip is missing or not ${original}")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${WORK}/${NAME}/Quorvel.exe OUTPUT_VARIABLE headers
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} cannot read Quorvel.exe")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
foreach(import IN LISTS imports)
  string(TOLOWER "${import}" import)
  if(import MATCHES "lib(stdc\\+\\+|gcc|winpthread)")
    message(FATAL_ERROR "Quorvel.exe is not static: ${import}")
  endif()
endforeach()
list(LENGTH imports count)
if(count EQUAL 0)
  message(FATAL_ERROR "no imports found in Quorvel.exe: ${OBJDUMP} -p said\n${headers}")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "${NAME}.zip: Quorvel.exe and README.md; imports: ${imports}")
