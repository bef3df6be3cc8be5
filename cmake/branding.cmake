# What a player sees of a launcher file: the game's icon and, on Windows, its
# name and version (Explorer's Details page, Task Manager) beside the manifest.
#
#   LAUNCHER_ICON           the game's .ico: icon group 1 of the Windows
#                           executable and the image the Linux launcher hands
#                           the game's windows; any sizes from 16 to 256
#                           pixels, PNG images included. Default: the
#                           launcher's own 32 x 32 image. Checked when CMake
#                           runs; an invalid icon stops it, naming the file.
#   LAUNCHER_PRODUCT_NAME   ProductName      (empty: LAUNCHER_APP_NAME)
#   LAUNCHER_DESCRIPTION    FileDescription  (empty: LAUNCHER_APP_NAME; Task
#                                            Manager lists the process by it)
#   LAUNCHER_COMPANY        CompanyName      (empty: LAUNCHER_APP_NAME)
#   LAUNCHER_COPYRIGHT      LegalCopyright   (empty: "Copyright (C) <year>
#                           <company>", the year of SOURCE_DATE_EPOCH when set)
#   LAUNCHER_VERSION        FileVersion and ProductVersion: one to four
#                           numbers from 0 to 65535 separated by dots; the
#                           version numbers take it with zeros added
#
#   launcher_add_branding(<target> [ICON <ico>] [VERSION <v>] [PRODUCT_NAME <text>]
#                         [DESCRIPTION <text>] [COMPANY <text>] [COPYRIGHT <text>])
#       Windows: a resource script of the target's own, made in the build
#       tree: the manifest, icon group 1 and the version resource, whose
#       OriginalFilename and InternalName follow the target's OUTPUT_NAME
#       (set it first). Elsewhere: the icon's pixels for the desktop, as
#       launcher_add_desktop_icon. Each argument left out takes the cache
#       variable's value.
#   launcher_add_desktop_icon(<target> <ico>)
#       `launcher_icon_file` (launch/desktop_icon.hpp) for <target>: every size
#       of the icon as an uncompressed 32-bit image, converted when building
#       (resources/icon_file.py), for desktops that take icons as pixels.
#
# The including file has found Python3 and set LAUNCHER_APP_NAME and
# LAUNCHER_SOURCE_ROOT (cmake/payload.cmake does both).
set(LAUNCHER_ICON "${LAUNCHER_SOURCE_ROOT}/resources/launcher.ico" CACHE FILEPATH
    "The game's icon (.ico): icon group 1 on Windows, the icon handed to the game's windows")
set(LAUNCHER_PRODUCT_NAME "" CACHE STRING "ProductName of the version resource (empty: LAUNCHER_APP_NAME)")
set(LAUNCHER_DESCRIPTION "" CACHE STRING "FileDescription of the version resource (empty: LAUNCHER_APP_NAME)")
set(LAUNCHER_COMPANY "" CACHE STRING "CompanyName of the version resource (empty: LAUNCHER_APP_NAME)")
set(LAUNCHER_COPYRIGHT "" CACHE STRING
    "LegalCopyright of the version resource (empty: Copyright (C) <year> <company>)")
set(LAUNCHER_VERSION "1.0.0.0" CACHE STRING
    "FileVersion and ProductVersion: one to four numbers from 0 to 65535, as 1.4.2")

set(LAUNCHER_ICON_TOOL "${LAUNCHER_SOURCE_ROOT}/resources/icon_file.py")
set(LAUNCHER_MANIFEST "${LAUNCHER_SOURCE_ROOT}/resources/launcher.manifest")
if(WIN32)
  enable_language(RC)
endif()

# Refuses, naming the file, an icon Windows would not read, once per file and run of CMake.
function(launcher_check_icon icon what)
  if(NOT EXISTS "${icon}" OR IS_DIRECTORY "${icon}")
    message(FATAL_ERROR "${what}: no such icon file: \"${icon}\"")
  endif()
  get_property(checked GLOBAL PROPERTY LAUNCHER_CHECKED_ICONS)
  if("${icon}" IN_LIST checked)
    return()
  endif()
  execute_process(COMMAND "${Python3_EXECUTABLE}" "${LAUNCHER_ICON_TOOL}" check "${icon}"
                  RESULT_VARIABLE result ERROR_VARIABLE problem)
  if(NOT result EQUAL 0)
    string(REGEX REPLACE "^icon_file: error: " "" problem "${problem}")
    string(STRIP "${problem}" problem)
    message(FATAL_ERROR "${what}: ${problem}")
  endif()
  set_property(GLOBAL APPEND PROPERTY LAUNCHER_CHECKED_ICONS "${icon}")
  # A changed icon is checked again.
  set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${icon}")
endfunction()

# <out_numbers>: the four numbers of a version resource ("1,4,2,0"); refuses
# anything but one to four numbers from 0 to 65535.
function(launcher_version_numbers version what out_numbers)
  set(rule "one to four numbers from 0 to 65535 separated by dots, as 1.4.2 or 2.0.0.17")
  if(NOT version MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    message(FATAL_ERROR "${what} \"${version}\" is not a version: ${rule}")
  endif()
  string(REPLACE "." ";" parts "${version}")
  set(numbers "")
  foreach(part IN LISTS parts)
    string(REGEX REPLACE "^0+([0-9])" "\\1" part "${part}")
    string(LENGTH "${part}" digits)
    if(digits GREATER 5 OR part GREATER 65535)
      message(FATAL_ERROR "${what} \"${version}\" is not a version: ${part} is more than 65535 "
                          "(${rule})")
    endif()
    list(APPEND numbers ${part})
  endforeach()
  list(LENGTH numbers count)
  while(count LESS 4)
    list(APPEND numbers 0)
    math(EXPR count "${count} + 1")
  endwhile()
  string(REPLACE ";" "," numbers "${numbers}")
  set(${out_numbers} "${numbers}" PARENT_SCOPE)
endfunction()

# A version resource's text as a resource script's string: quotes doubled,
# backslashes escaped; refuses line breaks and tabs, which the fields do not show.
function(launcher_rc_string text what out)
  if(text MATCHES "[\r\n\t]")
    message(FATAL_ERROR "${what} holds a line break or a tab: \"${text}\"")
  endif()
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(launcher_add_desktop_icon target icon)
  get_filename_component(icon "${icon}" ABSOLUTE)
  launcher_check_icon("${icon}" "launcher_add_desktop_icon(${target})")
  set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}_icon/desktop_icon.cpp")
  add_custom_command(
    OUTPUT "${source}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/${target}_icon"
    COMMAND Python3::Interpreter "${LAUNCHER_ICON_TOOL}" desktop "${icon}" --cpp "${source}"
    DEPENDS "${icon}" "${LAUNCHER_ICON_TOOL}"
    COMMENT "Converting the icon ${icon} for the desktop"
    VERBATIM)
  target_sources(${target} PRIVATE "${source}")
  target_include_directories(${target} PRIVATE "${LAUNCHER_SOURCE_ROOT}")
endfunction()

function(launcher_add_branding target)
  set(fields ICON VERSION PRODUCT_NAME DESCRIPTION COMPANY COPYRIGHT)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "${fields}" "")
  foreach(field IN LISTS fields)
    if(DEFINED arg_${field})
      set(${field} "${arg_${field}}")
      set(${field}_WHAT "launcher_add_branding(${target}): ${field}")
    else()
      set(${field} "${LAUNCHER_${field}}")
      set(${field}_WHAT "LAUNCHER_${field}")
    endif()
  endforeach()
  get_filename_component(ICON "${ICON}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
  if(NOT WIN32)
    # Only the icon reaches a Linux desktop; the fields are checked all the same.
    launcher_version_numbers("${VERSION}" "${VERSION_WHAT}" numbers)
    launcher_check_icon("${ICON}" "${ICON_WHAT}")
    launcher_add_desktop_icon(${target} "${ICON}")
    return()
  endif()

  foreach(field PRODUCT_NAME DESCRIPTION COMPANY)
    if("${${field}}" STREQUAL "")
      set(${field} "${LAUNCHER_APP_NAME}")
    endif()
  endforeach()
  if("${COPYRIGHT}" STREQUAL "")
    # CMake takes the year from SOURCE_DATE_EPOCH when it is set.
    string(TIMESTAMP year "%Y" UTC)
    set(COPYRIGHT "Copyright (C) ${year} ${COMPANY}")
  endif()
  launcher_version_numbers("${VERSION}" "${VERSION_WHAT}" numbers)
  string(REPLACE "," "." version_text "${numbers}")
  launcher_check_icon("${ICON}" "${ICON_WHAT}")
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  set(strings "")
  foreach(entry "CompanyName;COMPANY" "FileDescription;DESCRIPTION" "FileVersion;version_text"
                "InternalName;output_name" "LegalCopyright;COPYRIGHT"
                "OriginalFilename;original" "ProductName;PRODUCT_NAME"
                "ProductVersion;version_text")
    list(GET entry 0 key)
    list(GET entry 1 variable)
    if(variable STREQUAL "original")
      set(value "${output_name}${CMAKE_EXECUTABLE_SUFFIX}")
    else()
      set(value "${${variable}}")
    endif()
    set(what "${key}")
    if(DEFINED ${variable}_WHAT)
      set(what "${${variable}_WHAT}")
    endif()
    launcher_rc_string("${value}" "${what}" value)
    string(APPEND strings "      VALUE \"${key}\", \"${value}\"\n")
  endforeach()

  # The icon and the manifest are copied beside the script and found through
  # its include path, so that no path of the machine's is written into it.
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources")
  configure_file("${ICON}" "${dir}/launcher-icon.ico" COPYONLY)
  configure_file("${LAUNCHER_MANIFEST}" "${dir}/launcher.manifest" COPYONLY)
  file(CONFIGURE OUTPUT "${dir}/launcher.rc" @ONLY CONTENT
"// Made by the build for @target@: its manifest, icon and version resource.
#pragma code_page(65001)

// CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST
1 24 \"launcher.manifest\"

// The icon Explorer shows, and the one handed to the game's windows.
1 ICON \"launcher-icon.ico\"

1 VERSIONINFO
FILEVERSION @numbers@
PRODUCTVERSION @numbers@
FILEFLAGSMASK 0x3F
FILEFLAGS 0x0
FILEOS 0x40004
FILETYPE 0x1
FILESUBTYPE 0x0
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904B0\"
    BEGIN
@strings@    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
")
  target_sources(${target} PRIVATE "${dir}/launcher.rc")
  set_source_files_properties("${dir}/launcher.rc" PROPERTIES
    INCLUDE_DIRECTORIES "${dir}"
    OBJECT_DEPENDS "${dir}/launcher-icon.ico;${dir}/launcher.manifest")
endfunction()
