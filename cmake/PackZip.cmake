# Packs files into a zip whose bytes depend only on the files' contents and
# names, their order and the release time: no clock, time zone, owner, access
# time or file mode of the machine that packs it gets in. The files go into a
# folder of their own first, each with mode 644 and the release time; Info-ZIP
# then packs them in the order given with no extra fields (-X), no folder
# entries (-D), and times read in UTC.
# Run as: cmake -DZIP=<zip> -DFILES=<file>|<file>... -DSTAGE=<folder> -DEPOCH_FILE=<file>
#         -DZIP_PROGRAM=<zip> -P PackZip.cmake
cmake_policy(VERSION 3.25)
string(REPLACE "|" ";" files "${FILES}")
file(STRINGS ${EPOCH_FILE} epoch LIMIT_COUNT 1)

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
set(names "")
foreach(file IN LISTS files)
  get_filename_component(name ${file} NAME)
  if(name IN_LIST names)
    message(FATAL_ERROR "${ZIP}: two files named ${name}")
  endif()
  list(APPEND names ${name})
  file(COPY_FILE ${file} ${STAGE}/${name})
  file(CHMOD ${STAGE}/${name} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()

set(ENV{TZ} UTC)
execute_process(COMMAND touch -d @${epoch} ${names} WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot set the time of the files packed into ${ZIP}")
endif()
file(REMOVE ${ZIP})  # zip adds to an existing archive
get_filename_component(zip_dir ${ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${zip_dir})
execute_process(COMMAND ${ZIP_PROGRAM} -X -D -9 -q ${ZIP} ${names} WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${ZIP_PROGRAM} could not pack ${ZIP}")
endif()
