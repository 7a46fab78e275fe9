# Builds the phone's package: the rootless layout under ./var/jb with the
# phone's binaries and the resources the simulated device's package carries,
# DEBIAN/ with the control file and the postinst and postrm both packages
# share, then dpkg-deb, every entry dated by the commit (reproducible_deb.cmake).
# Variables: STAGE, DEB, CONTROL, and INPUTS, the build's package_inputs.cmake
# (VELMO, PANE, PNG: the bundle's pictures, SOURCE, PHONE).
include(${INPUTS})
file(REMOVE_RECURSE ${STAGE})
set(tweaks ${STAGE}/var/jb/Library/MobileSubstrate/DynamicLibraries)
set(bundle ${STAGE}/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle)
set(entries ${STAGE}/var/jb/Library/PreferenceLoader/Preferences)
set(data OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(program OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(MAKE_DIRECTORY ${tweaks} ${bundle} ${entries} ${STAGE}/DEBIAN)
file(COPY ${VELMO} DESTINATION ${tweaks} FILE_PERMISSIONS ${program})
file(COPY ${SOURCE}/tweak/Velmo.plist DESTINATION ${tweaks} FILE_PERMISSIONS ${data})
file(COPY ${PANE} DESTINATION ${bundle} FILE_PERMISSIONS ${program})
file(COPY ${SOURCE}/settings-pane/resources/Info.plist ${SOURCE}/settings-pane/resources/Root.plist
          ${PNG} DESTINATION ${bundle} FILE_PERMISSIONS ${data})
file(COPY ${SOURCE}/settings-pane/resources/VelmoPreferences.plist DESTINATION ${entries}
     FILE_PERMISSIONS ${data})
file(COPY ${CONTROL} DESTINATION ${STAGE}/DEBIAN FILE_PERMISSIONS ${data})
file(COPY ${SOURCE}/device/package/com.qel.velmo/postinst
          ${SOURCE}/device/package/com.qel.velmo/postrm
     DESTINATION ${STAGE}/DEBIAN FILE_PERMISSIONS ${program})
file(CHMOD_RECURSE ${STAGE} DIRECTORY_PERMISSIONS ${program})
include(${SOURCE}/device/package/reproducible_deb.cmake)
velmo_source_date_epoch(epoch ${SOURCE})
velmo_build_deb(${STAGE} ${DEB} ${epoch})
