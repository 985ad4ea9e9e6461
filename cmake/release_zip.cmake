# Zips a folder reproducibly and writes the checksums of the release zips.
#
#   cmake -DSTAGE=<folder> -DZIP=<zip> -DVERSION=<version> -DSOURCE_DIR=<checkout>
#         -DZIP_PROGRAM=<zip> -P release_zip.cmake
#
# The zip holds the folder's files by name, in name order, each with the same
# permissions and time: SOURCE_DATE_EPOCH when it is set, else the time of the
# checkout's last commit. Info-ZIP's zip with -X keeps owners and the builder's
# own times out, and TZ=UTC makes the DOS times the same everywhere. Then
# SHA256SUMS beside the zip gets one line per vdksvc zip of VERSION there, in the
# format sha256sum -c reads.
cmake_minimum_required(VERSION 3.25)

if(NOT EXISTS "${ZIP_PROGRAM}")
  message(FATAL_ERROR "the release zips need Info-ZIP's zip (Debian package zip)")
endif()

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT epoch)
    message(FATAL_ERROR "${SOURCE_DIR} is no git checkout: set SOURCE_DATE_EPOCH to the time "
                        "the zips' files should carry")
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$" OR epoch LESS 315532800)
  # A zip's DOS time cannot hold a time before 1980.
  message(FATAL_ERROR "SOURCE_DATE_EPOCH ${epoch} is no time from 1980 on")
endif()

file(GLOB names RELATIVE ${STAGE} ${STAGE}/*)
list(SORT names)
foreach(name ${names})
  file(CHMOD ${STAGE}/${name} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
execute_process(COMMAND touch -d @${epoch} -- ${names} WORKING_DIRECTORY ${STAGE}
                COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP_PROGRAM} -X -D -q ${ZIP} ${names}
                WORKING_DIRECTORY ${STAGE} COMMAND_ERROR_IS_FATAL ANY)

get_filename_component(folder ${ZIP} DIRECTORY)
file(GLOB zips RELATIVE ${folder} ${folder}/vdksvc*-${VERSION}-win64.zip)
list(SORT zips)
set(sums "")
foreach(name ${zips})
  file(SHA256 ${folder}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${folder}/SHA256SUMS "${sums}")
