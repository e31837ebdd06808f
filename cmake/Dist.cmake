# "dist": a ZIP with the Windows programs, the README, the LICENSE and SHA256SUMS.
set(DIST_PROGRAMS "" CACHE INTERNAL "")
function(add_dist_program target)
  install(TARGETS ${target} RUNTIME DESTINATION .)
  set(DIST_PROGRAMS ${DIST_PROGRAMS} ${target} CACHE INTERNAL "")
endfunction()

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/SHA256SUMS DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tarnel-tools)
set(CPACK_PACKAGE_FILE_NAME tarnel-tools-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/dist)
include(CPack)

# SHA256SUMS of the programs is written at build time of "dist".
cmake_language(DEFER CALL _dist_target)
function(_dist_target)
  set(files)
  foreach(t IN LISTS DIST_PROGRAMS)
    list(APPEND files $<TARGET_FILE_NAME:${t}>)
  endforeach()
  add_custom_target(dist
    COMMAND sha256sum ${files} > ${CMAKE_BINARY_DIR}/SHA256SUMS
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    DEPENDS ${DIST_PROGRAMS}
    COMMENT "Packing the Windows programs"
    VERBATIM)
endfunction()
