# Builds the package repository (see CMakeLists.txt beside this file) into
# OUT, replacing what was there; a scratch folder OUT.work beside it holds
# what is not published.
# Variables: INPUTS (the phone build's package_inputs.cmake), REPO_URL (the
# base address the repository is published at), OUT, DRAWER (make_velmo_png),
# SCALER (scale_png).
include(${INPUTS})
include(${SOURCE}/device/package/reproducible_deb.cmake)

# The address goes into the control file, a page and a JSON file as it is: it
# must be a plain http(s) address, nothing that could end a field or a string.
string(REGEX REPLACE "/+$" "" VELMO_REPO_URL "${REPO_URL}")
if(NOT VELMO_REPO_URL MATCHES "^https?://[A-Za-z0-9.-]+(:[0-9]+)?(/[A-Za-z0-9._~/-]*)?$")
  message(FATAL_ERROR "REPO_URL \"${REPO_URL}\" is not an http:// or https:// address of "
                      "letters, digits and . _ ~ / - only")
endif()

set(depictions ${OUT}/depictions/com.qel.velmo)
set(work ${OUT}.work)
file(REMOVE_RECURSE ${OUT} ${work})
file(MAKE_DIRECTORY ${OUT}/debs ${depictions}/screenshots ${work})
velmo_source_date_epoch(epoch ${SOURCE})

# The package, its control file pointing at this repository's pages.
configure_file(${CONTROL_IN} ${work}/control @ONLY)
set(deb_name com.qel.velmo_${PROJECT_VERSION}_${VELMO_DEB_ARCH}.deb)
execute_process(COMMAND ${CMAKE_COMMAND} -DSTAGE=${work}/stage -DDEB=${OUT}/debs/${deb_name}
                        -DCONTROL=${work}/control -DINPUTS=${INPUTS}
                        -P ${PHONE}/package/make_deb.cmake
                COMMAND_ERROR_IS_FATAL ANY)

# The pictures: the repository's and the package's icon, and the screens the
# simulated phone draws (docs/, from make screens) at a third of their size,
# each beside its full size.
execute_process(COMMAND ${DRAWER} --icon 180 ${OUT}/CydiaIcon.png COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${DRAWER} --icon 180 ${depictions}/icon.png COMMAND_ERROR_IS_FATAL ANY)
foreach(screen 05-album-list-locked 06-face-id-prompt 02-velmo-pane)
  execute_process(COMMAND ${SCALER} 3 ${SOURCE}/docs/${screen}.png
                          ${depictions}/screenshots/${screen}.png COMMAND_ERROR_IS_FATAL ANY)
  file(COPY_FILE ${SOURCE}/docs/${screen}.png ${depictions}/screenshots/${screen}-full.png)
endforeach()

# The pages, from their templates.
configure_file(${CMAKE_CURRENT_LIST_DIR}/depiction.html.in ${depictions}/index.html @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/sileo.json.in ${depictions}/sileo.json @ONLY)

# The index and its compressed forms, then Release with their sums; both by
# apt-ftparchive, dated by the commit as the package is.
execute_process(COMMAND apt-ftparchive packages debs WORKING_DIRECTORY ${OUT}
                OUTPUT_FILE ${OUT}/Packages COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND gzip -9nc Packages WORKING_DIRECTORY ${OUT} OUTPUT_FILE ${OUT}/Packages.gz
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND bzip2 -9c Packages WORKING_DIRECTORY ${OUT} OUTPUT_FILE ${OUT}/Packages.bz2
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND xz -9ec --threads=1 Packages WORKING_DIRECTORY ${OUT}
                OUTPUT_FILE ${OUT}/Packages.xz COMMAND_ERROR_IS_FATAL ANY)
set(ENV{SOURCE_DATE_EPOCH} ${epoch})
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S UTC" UTC)
set(release APT::FTPArchive::Release)
execute_process(
  COMMAND apt-ftparchive -o ${release}::Origin=Velmo -o ${release}::Label=Velmo
          -o ${release}::Suite=stable -o ${release}::Version=${PROJECT_VERSION}
          -o ${release}::Codename=velmo -o ${release}::Architectures=${VELMO_DEB_ARCH}
          -o ${release}::Components=main -o "${release}::Date=${date}"
          -o "${release}::Description=Velmo: the Hidden album of Photos behind Face ID or the passcode"
          release .
  WORKING_DIRECTORY ${OUT} OUTPUT_FILE ${work}/Release COMMAND_ERROR_IS_FATAL ANY)
file(COPY_FILE ${work}/Release ${OUT}/Release)
file(REMOVE_RECURSE ${work})
