# Builds the package: installs the velmo component into a fresh staging tree
# (stripped, so that no file carries the build's debug paths), adds DEBIAN/
# with the control file and the maintainer scripts, and runs dpkg-deb, every
# entry dated by the commit (reproducible_deb.cmake).
# Variables: BUILD, STAGE, CONTROL, SCRIPTS, DEB.
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --component velmo --prefix ${STAGE} --strip
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(MAKE_DIRECTORY ${STAGE}/DEBIAN)
file(COPY ${CONTROL} DESTINATION ${STAGE}/DEBIAN FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(COPY ${SCRIPTS}/postinst ${SCRIPTS}/postrm DESTINATION ${STAGE}/DEBIAN
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(CHMOD_RECURSE ${STAGE} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(${CMAKE_CURRENT_LIST_DIR}/reproducible_deb.cmake)
velmo_source_date_epoch(epoch ${CMAKE_CURRENT_LIST_DIR}/../..)
velmo_build_deb(${STAGE} ${DEB} ${epoch})
