# The Windows download: Quorvel.exe with its version resource, in a zip with the README.
# The executable is linked statically (cmake/Platform.cmake), so the zip holds all it needs.
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/Quorvel.rc.in
               ${CMAKE_BINARY_DIR}/generated/Quorvel.rc @ONLY)
target_sources(quorvel PRIVATE ${CMAKE_BINARY_DIR}/generated/Quorvel.rc)

set(QUORVEL_DOWNLOAD_NAME Quorvel-${PROJECT_VERSION}-windows-x86_64)
set(QUORVEL_DOWNLOAD_ZIP ${CMAKE_BINARY_DIR}/${QUORVEL_DOWNLOAD_NAME}.zip)
set(stage ${CMAKE_BINARY_DIR}/download/${QUORVEL_DOWNLOAD_NAME})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/download)
set(documents ${PROJECT_SOURCE_DIR}/README.md)
if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
  list(APPEND documents ${PROJECT_SOURCE_DIR}/LICENSE)
endif()
add_custom_command(OUTPUT ${QUORVEL_DOWNLOAD_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorvel> ${documents} ${stage}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${QUORVEL_DOWNLOAD_ZIP} --format=zip ${QUORVEL_DOWNLOAD_NAME}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/download
  DEPENDS quorvel ${documents}
  COMMENT "Packing ${QUORVEL_DOWNLOAD_NAME}.zip"
  VERBATIM)
add_custom_target(quorvel_windows_download ALL DEPENDS ${QUORVEL_DOWNLOAD_ZIP})
