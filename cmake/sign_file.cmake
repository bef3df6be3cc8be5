# Signs one Windows executable in place with osslsigncode (cmake/signing.cmake):
#   cmake -DOSSLSIGNCODE=<program> -DEXECUTABLE=<file> [-DPKCS12=<file> | -DCERT=<file> -DKEY=<file>]
#         [-DPASSWORD_FILE=<file>] [-DTIMESTAMP_URL=<url>] [-DDESCRIPTION=<text>]
#         [-DSIGNING_TIME=<unix time>] -P sign_file.cmake
# The signed file replaces the unsigned one only once it is complete. When
# signing fails the unsigned file is removed, so that a failed build leaves
# nothing that could be shipped unsigned by mistake, and the next build
# links and signs again.
set(arguments sign -h sha256)
if(PKCS12)
  list(APPEND arguments -pkcs12 "${PKCS12}")
else()
  list(APPEND arguments -certs "${CERT}" -key "${KEY}")
endif()
if(PASSWORD_FILE)
  list(APPEND arguments -readpass "${PASSWORD_FILE}")
endif()
if(DESCRIPTION)
  list(APPEND arguments -n "${DESCRIPTION}")
endif()
if(TIMESTAMP_URL)
  list(APPEND arguments -ts "${TIMESTAMP_URL}")
endif()
if(SIGNING_TIME)
  list(APPEND arguments -time "${SIGNING_TIME}")
endif()

# A wrong password makes OpenSSL ask for one on the terminal; in a session of
# its own, without a terminal, it fails instead of waiting for a person.
find_program(setsid_program setsid)
set(detached "")
if(setsid_program)
  set(detached "${setsid_program}" --wait)
endif()
set(signed "${EXECUTABLE}.signing")
file(REMOVE "${signed}")
execute_process(COMMAND ${detached} "${OSSLSIGNCODE}" ${arguments} -in "${EXECUTABLE}"
                        -out "${signed}"
                INPUT_FILE /dev/null
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT EXISTS "${signed}")
  file(REMOVE "${signed}" "${EXECUTABLE}")
  if(PKCS12)
    set(material "\"${PKCS12}\"")
  else()
    set(material "\"${CERT}\" and \"${KEY}\"")
  endif()
  string(STRIP "${output}" output)
  message(FATAL_ERROR "could not sign \"${EXECUTABLE}\" with ${material} (osslsigncode exit "
                      "code ${result}); the unsigned file is removed:\n${output}")
endif()
# osslsigncode writes a plain file; the linker's output was executable.
file(CHMOD "${signed}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(RENAME "${signed}" "${EXECUTABLE}")
