# CPack post-build step: CPack's debug package may list its file in md5sums
# by the build folder's absolute path, which dpkg and lintian cannot match,
# and has no doc folder. Rebuilt from its own files, with the doc folder a
# link to the tool's, as Debian's debug packages have it.
foreach(package ${CPACK_PACKAGE_FILES})
  if(NOT package MATCHES "\\.ddeb$")
    continue()
  endif()
  set(tree ${package}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(MAKE_DIRECTORY ${tree}/usr/share/doc)
  file(CREATE_LINK ${CPACK_DEBIAN_CUE-CTL_PACKAGE_NAME} ${tree}/usr/share/doc/${CPACK_DEBIAN_CUE-CTL_PACKAGE_NAME}-dbgsym
       SYMBOLIC)
  execute_process(COMMAND find usr -type f -exec md5sum {} +
                  WORKING_DIRECTORY ${tree} OUTPUT_FILE ${tree}/DEBIAN/md5sums COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${package}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
