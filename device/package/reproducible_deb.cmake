# Building a .deb that two builds of the same commit make byte for byte alike,
# as Debian's reproducible builds do: every time in the package is the
# commit's (SOURCE_DATE_EPOCH), every entry is owned by root, and dpkg-deb
# lists entries in name order. The modes are the staging tree's, which the
# packaging scripts set explicitly rather than leaving to the umask.
# Included by the packaging scripts (cmake -P) of both packages.

# The time the package's entries carry, in seconds since 1970: the
# SOURCE_DATE_EPOCH of the environment when one is given, else the time of
# the source tree's last commit, else (a tree without git) the time of its
# top CMakeLists.txt.
function(velmo_source_date_epoch out source)
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT epoch MATCHES "^[0-9]+$")
    execute_process(COMMAND git -C ${source} log -1 --format=%ct OUTPUT_VARIABLE epoch
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(failed OR NOT epoch MATCHES "^[0-9]+$")
      file(TIMESTAMP ${source}/CMakeLists.txt epoch "%s" UTC)
    endif()
  endif()
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()

# Packs the staging tree `stage` (with its DEBIAN/) into `deb`, every entry
# dated `epoch`. The file appears whole or not at all.
function(velmo_build_deb stage deb epoch)
  execute_process(COMMAND find ${stage} -exec touch --no-dereference --date=@${epoch} {} +
                  COMMAND_ERROR_IS_FATAL ANY)
  get_filename_component(folder ${deb} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch}
                          dpkg-deb --root-owner-group --build ${stage} ${deb}.new
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME ${deb}.new ${deb})
endfunction()

# Run as a script (cmake -DSOURCE=... -DSTAMP=... -P reproducible_deb.cmake),
# writes the epoch into the file STAMP, touching it only when the epoch
# changed: a package that depends on the stamp is packed again after a commit
# that changed none of its files, so that it carries the new commit's time.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED STAMP)
  velmo_source_date_epoch(epoch ${SOURCE})
  file(WRITE ${STAMP}.new "${epoch}\n")
  file(COPY_FILE ${STAMP}.new ${STAMP} ONLY_IF_DIFFERENT)
  file(REMOVE ${STAMP}.new)
endif()
