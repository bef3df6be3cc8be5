# Authenticode signatures for the Windows launchers, made with osslsigncode
# (scripts/setup installs it) as the very last step of each launcher's build,
# after everything else that changes the file. Without signing material
# nothing is signed.
#
#   LAUNCHER_SIGN_PKCS12          a PKCS#12 file (.pfx, .p12): certificate chain and key
#   LAUNCHER_SIGN_CERT            or a certificate (chain), PEM or DER,
#   LAUNCHER_SIGN_KEY             and its private key, PEM or DER
#   LAUNCHER_SIGN_PASSWORD_FILE   a file whose first line is the password of
#                                 the PKCS#12 file or of the key (optional)
#   LAUNCHER_SIGN_TIMESTAMP_URL   an RFC 3161 timestamp server (optional: the
#                                 build then needs it on the network)
#
#   launcher_sign_executable(<target> [PKCS12 <file>] [CERT <file> KEY <file>]
#                            [PASSWORD_FILE <file>] [TIMESTAMP_URL <url>]
#                            [DESCRIPTION <text>])
#       signs <target>'s file after its link and every POST_BUILD step added
#       before this call (so it is called last); the arguments default to the
#       cache variables, all of them or none; DESCRIPTION is the signature's
#       program name (default: LAUNCHER_PRODUCT_NAME, else LAUNCHER_APP_NAME).
#       A change of any signing file signs again. With SOURCE_DATE_EPOCH set
#       when CMake runs, the signature carries that time.
set(LAUNCHER_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file (.pfx) to sign the Windows launcher with")
set(LAUNCHER_SIGN_CERT "" CACHE FILEPATH "Certificate to sign the Windows launcher with (with LAUNCHER_SIGN_KEY)")
set(LAUNCHER_SIGN_KEY "" CACHE FILEPATH "Private key of LAUNCHER_SIGN_CERT")
set(LAUNCHER_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File whose first line is the password of the PKCS#12 file or key")
set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server for the signature (optional)")

set(LAUNCHER_SIGN_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/sign_file.cmake")
if(NOT WIN32 AND (LAUNCHER_SIGN_PKCS12 OR LAUNCHER_SIGN_CERT OR LAUNCHER_SIGN_KEY))
  message(WARNING "Authenticode signs Windows programs: the Linux launcher is not signed "
                  "(LAUNCHER_SIGN_* are for the windows preset)")
endif()

function(launcher_sign_executable target)
  set(inputs PKCS12 CERT KEY PASSWORD_FILE TIMESTAMP_URL)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "${inputs};DESCRIPTION" "")
  set(given FALSE)
  foreach(input IN LISTS inputs)
    if(DEFINED arg_${input})
      set(given TRUE)
    endif()
  endforeach()
  set(where "launcher_sign_executable(${target}): ")
  foreach(input IN LISTS inputs)
    if(given)
      set(${input} "${arg_${input}}")
      set(${input}_WHAT "${where}${input}")
    else()
      set(${input} "${LAUNCHER_SIGN_${input}}")
      set(${input}_WHAT "LAUNCHER_SIGN_${input}")
    endif()
  endforeach()
  if(NOT WIN32)
    return()  # said once, when this file is included
  endif()
  if(NOT PKCS12 AND NOT CERT AND NOT KEY)
    if(PASSWORD_FILE OR TIMESTAMP_URL)
      message(FATAL_ERROR "${PASSWORD_FILE_WHAT} or ${TIMESTAMP_URL_WHAT} is set, but nothing "
                          "to sign with: set ${PKCS12_WHAT}, or ${CERT_WHAT} and ${KEY_WHAT}")
    endif()
    return()
  endif()
  if(PKCS12 AND (CERT OR KEY))
    message(FATAL_ERROR "Sign with ${PKCS12_WHAT} or with ${CERT_WHAT} and ${KEY_WHAT}, "
                        "not both")
  endif()
  if(NOT PKCS12 AND NOT (CERT AND KEY))
    message(FATAL_ERROR "${CERT_WHAT} and ${KEY_WHAT} go together: one of them is empty")
  endif()

  set(files "")
  set(script_args "")
  foreach(input PKCS12 CERT KEY PASSWORD_FILE)
    if(${input})
      get_filename_component(file "${${input}}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
      if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
        message(FATAL_ERROR "${${input}_WHAT}: no such file: \"${file}\"")
      endif()
      list(APPEND files "${file}")
      list(APPEND script_args "-D${input}=${file}")
    endif()
  endforeach()
  if(TIMESTAMP_URL)
    list(APPEND script_args "-DTIMESTAMP_URL=${TIMESTAMP_URL}")
  endif()
  set(description "${arg_DESCRIPTION}")
  if(NOT DEFINED arg_DESCRIPTION)
    set(description "${LAUNCHER_PRODUCT_NAME}")
    if(description STREQUAL "")
      set(description "${LAUNCHER_APP_NAME}")
    endif()
  endif()
  # The text travels as one argument through a CMake list: no semicolons.
  string(REPLACE ";" "," description "${description}")
  list(APPEND script_args "-DDESCRIPTION=${description}")
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(APPEND script_args "-DSIGNING_TIME=$ENV{SOURCE_DATE_EPOCH}")
  endif()

  find_program(LAUNCHER_OSSLSIGNCODE osslsigncode)
  if(NOT LAUNCHER_OSSLSIGNCODE)
    message(FATAL_ERROR "${where}osslsigncode is not installed (scripts/setup installs it)")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" "-DOSSLSIGNCODE=${LAUNCHER_OSSLSIGNCODE}"
            "-DEXECUTABLE=$<TARGET_FILE:${target}>" ${script_args} -P "${LAUNCHER_SIGN_SCRIPT}"
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${files} "${LAUNCHER_SIGN_SCRIPT}")
endfunction()
