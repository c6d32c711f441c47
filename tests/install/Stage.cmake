# Installs the build into STAGE_DIR (prefix PREFIX), afresh, as `cmake --install` does.
file(REMOVE_RECURSE ${STAGE_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                OUTPUT_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD_DIR} failed: ${result}")
endif()
