# Puts the npm package together in STAGE and packs it with npm into OUT_DIR:
# the module and the core from SITE, package.json, the licence, the
# TypeScript declarations, the custom-elements manifest, and the
# makers' part of the README (between its "makers" markers).
foreach(name SOURCE SITE STAGE OUT_DIR NPM VERSION)
  if(NOT DEFINED ${name})
    message(FATAL_ERROR "pack.cmake: ${name} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
foreach(file hex-upload-button.js hex-upload.js hex-upload.wasm)
  file(COPY ${SITE}/${file} DESTINATION ${STAGE})
endforeach()
set(PROJECT_VERSION ${VERSION})
foreach(name REPOSITORY HOMEPAGE BUGS)
  if(NOT DEFINED ${name})
    message(FATAL_ERROR "pack.cmake: ${name} is not set")
  endif()
  set(HEX_UPLOAD_${name} ${${name}})
endforeach()
configure_file(${SOURCE}/upload/web/package/package.json.in ${STAGE}/package.json @ONLY)
foreach(file hex-upload-button.d.ts custom-elements.json)
  file(COPY ${SOURCE}/upload/web/package/${file} DESTINATION ${STAGE})
endforeach()
# The project's licence, then what the core carries of others'.
file(READ ${SOURCE}/LICENSE licence)
file(READ ${SOURCE}/upload/web/package/THIRD-PARTY third_party)
file(WRITE ${STAGE}/LICENSE "${licence}\n${third_party}")

file(READ ${SOURCE}/README.md readme)
string(FIND "${readme}" "<!-- makers -->" begin)
string(FIND "${readme}" "<!-- /makers -->" end)
if(begin LESS 0 OR end LESS begin)
  message(FATAL_ERROR "pack.cmake: README.md has no <!-- makers --> ... <!-- /makers --> part")
endif()
math(EXPR begin "${begin} + 15")
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${readme}" ${begin} ${length} part)
file(WRITE ${STAGE}/README.md "# hex-upload-button\n${part}")

file(GLOB old ${OUT_DIR}/hex-upload-button-*.tgz)
if(old)
  file(REMOVE ${old})
endif()
execute_process(
  COMMAND ${NPM} pack --pack-destination ${OUT_DIR} --ignore-scripts --offline
          --cache ${OUT_DIR}/npm-cache --loglevel=error
  WORKING_DIRECTORY ${STAGE}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pack.cmake: npm pack failed")
endif()
