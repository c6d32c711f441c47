# Run by cpack before it packs: the static libraries lose their debug information, as the
# executables and modules do through CPACK_STRIP_FILES (which passes over archives).
file(GLOB_RECURSE archives "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.a")
foreach(archive ${archives})
  execute_process(COMMAND strip --strip-debug --remove-section=.comment
                          --enable-deterministic-archives ${archive}
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip ${archive} failed: ${result}")
  endif()
endforeach()
