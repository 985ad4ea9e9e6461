# Signs a program in place with Authenticode (SHA-256), by osslsigncode.
#
#   cmake -DPROGRAM=<exe> -DTOOL=<osslsigncode> -DPFX=<PKCS#12 file>
#         -DPASSWORD_FILE=<file> [-DTIMESTAMP_URL=<RFC 3161 server>] -P sign.cmake
#
# The password is read from its file by osslsigncode itself, so it is on no
# command line. When signing fails, the unsigned program is deleted: nothing
# that looks like a signed build is left, and the next build links it again.
cmake_minimum_required(VERSION 3.25)

set(timestamp "")
if(TIMESTAMP_URL)
  set(timestamp -ts ${TIMESTAMP_URL})
endif()
file(REMOVE ${PROGRAM}.signed)
execute_process(
  COMMAND ${TOOL} sign -pkcs12 ${PFX} -readpass ${PASSWORD_FILE} -h sha256 ${timestamp}
          -in ${PROGRAM} -out ${PROGRAM}.signed
  RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(failed)
  file(REMOVE ${PROGRAM} ${PROGRAM}.signed)
  message(FATAL_ERROR "${PROGRAM} could not be signed with ${PFX} (is it a PKCS#12 file with "
                      "a key and its certificate, and does ${PASSWORD_FILE} hold its password?). "
                      "The unsigned program was deleted.\n${output}")
endif()
file(RENAME ${PROGRAM}.signed ${PROGRAM})
