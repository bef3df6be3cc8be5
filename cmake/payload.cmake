# The game the launcher carries: its ZIP archive is checked, proven and
# turned into the chunk table at build time (payload/tools/pack_payload.py),
# and linked into launcher executables only, never into launcher_core.
#
#   LAUNCHER_PAYLOAD           the game's .zip; empty: the demo game (demo/)
#   LAUNCHER_REQUIRE_GAME      ON (default): an archive without the game's
#                              executable or start-up map is refused
#   LAUNCHER_MAPPED_PAYLOAD_LIMIT
#                              the largest archive, in bytes, carried in the
#                              image (default 268435456, 256 MiB; at most
#                              1 GiB); a larger one is attached to the file
#   launcher_add_payload(<target> ARCHIVE <zip> [REQUIRE_GAME ON|OFF]
#                        [NAME_RULES windows|posix] [UNPROVEN]
#                        [MAPPED_PAYLOAD_LIMIT <bytes>]
#                        [DEPENDS <targets or files>...])
#       an object library holding the chunks and `payload_chunks` of <zip>
#       (or, for an archive above the limit, the record that
#       launcher_attach_payload fills in); REQUIRE_GAME defaults to
#       LAUNCHER_REQUIRE_GAME, NAME_RULES to the target's file system,
#       MAPPED_PAYLOAD_LIMIT to LAUNCHER_MAPPED_PAYLOAD_LIMIT; UNPROVEN skips
#       the unpacking proof, for test archives damaged on purpose so that the
#       launcher meets the damage
#   launcher_attach_payload(<executable> <payload>)
#       after each link of <executable>, attaches the archive of <payload>
#       to the file when its home is the file (payload/tools/
#       attach_payload.py); nothing on the image home
#   launcher_add_executable(<target> ARCHIVE <zip> [OUTPUT_NAME <name>]
#                           [WATCH_LIMIT_MS <ms>] [REQUIRE_GAME ON|OFF]
#                           [UNPROVEN] [MAPPED_PAYLOAD_LIMIT <bytes>]
#                           [DEPENDS <targets or files>...]
#                           [ICON <ico>] [VERSION <v>] [PRODUCT_NAME <text>]
#                           [DESCRIPTION <text>] [COMPANY <text>] [COPYRIGHT <text>]
#                           [SIGN_PKCS12 <file>] [SIGN_CERT <file>] [SIGN_KEY <file>]
#                           [SIGN_PASSWORD_FILE <file>] [SIGN_TIMESTAMP_URL <url>])
#       a launcher exactly like the main one (entry point, resources, link
#       options, GUI subsystem) carrying <zip>; its window watch ends after
#       <ms> (default 8001, the shipped launcher's) at the latest. The icon
#       and version fields (cmake/branding.cmake) and the signing material
#       (cmake/signing.cmake; signing is the build's last step) default to
#       their LAUNCHER_* cache variables.
#   launcher_add_watch_limit(<target> <ms>)
#       the process-wide watch with that time limit, for any other program
#       that links launcher_core's launch code (the unit tests)
#
# The packer runs whenever the archive changes. It refuses an archive the
# launcher could not unpack, whose names the target's file system cannot
# hold, or that would make a Windows executable of 4 GiB or more, and then
# unpacks it once with the launcher's own extraction code
# (payload/tools/unpack_proof, a native program even in a cross build) in a
# scratch folder of the build tree; any refusal or failure fails the build
# with a message that names the archive and the entry. It also chooses the
# archive's home from its size, at build time, since the build itself makes
# the test and demo archives: up to the limit the image (the chunks go
# through the assembler and the linker), above it the file (the archive is
# appended to the linked executable and goes through neither).
#
# The including project sets LAUNCHER_APP_NAME, LAUNCHER_GAME_EXE and
# LAUNCHER_START_MAP first: the names are checked as the launcher forms them.
enable_language(ASM)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(LAUNCHER_PAYLOAD "" CACHE FILEPATH
    "The game's ZIP archive that the launcher carries (empty: the demo game)")
option(LAUNCHER_REQUIRE_GAME
       "Refuse an archive without the game's executable or start-up map" ON)
set(LAUNCHER_MAPPED_PAYLOAD_LIMIT 268435456 CACHE STRING
    "The largest game archive, in bytes, carried in the launcher's image; a larger one is attached to its file")
# Above this an image stops linking (32-bit relocations across read-only
# data) and Windows stops loading it: no limit may lead there.
set(LAUNCHER_MAPPED_PAYLOAD_MAX 1073741824)
function(launcher_check_payload_limit what limit)
  if(NOT limit MATCHES "^[0-9]+$" OR limit GREATER LAUNCHER_MAPPED_PAYLOAD_MAX)
    message(FATAL_ERROR "${what}: the mapped payload limit is a number of bytes from 0 to "
                        "${LAUNCHER_MAPPED_PAYLOAD_MAX} (1 GiB), not \"${limit}\": a larger "
                        "image fails to link or to load")
  endif()
endfunction()
launcher_check_payload_limit(LAUNCHER_MAPPED_PAYLOAD_LIMIT "${LAUNCHER_MAPPED_PAYLOAD_LIMIT}")
foreach(constant LAUNCHER_APP_NAME LAUNCHER_GAME_EXE LAUNCHER_START_MAP)
  if(NOT DEFINED ${constant})
    message(FATAL_ERROR "cmake/payload.cmake: set ${constant} before including it")
  endif()
endforeach()
# Found from this file, so that other projects (the packer's tests) can include it.
get_filename_component(LAUNCHER_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(LAUNCHER_PACKER "${LAUNCHER_SOURCE_ROOT}/payload/tools/pack_payload.py")
set(LAUNCHER_ATTACHER "${LAUNCHER_SOURCE_ROOT}/payload/tools/attach_payload.py")
# What each launcher executable carries beside its archive, and its signature.
include("${CMAKE_CURRENT_LIST_DIR}/branding.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/signing.cmake")
if(WIN32)
  set(LAUNCHER_PAYLOAD_FORMAT pe)
  set(LAUNCHER_NAME_RULES windows)
else()
  set(LAUNCHER_PAYLOAD_FORMAT elf)
  set(LAUNCHER_NAME_RULES posix)
endif()

# The proof's host program, built natively in a CMake project of its own below
# the build tree: a cross build's compilers, flags and toolchain stay out. It
# is rebuilt (and every archive proven again) when the extraction sources it
# is made of change.
set(LAUNCHER_PROOF_SOURCE "${LAUNCHER_SOURCE_ROOT}/payload/tools/unpack_proof")
set(LAUNCHER_PROOF_BUILD "${CMAKE_BINARY_DIR}/unpack-proof")
set(LAUNCHER_PROOF "${LAUNCHER_PROOF_BUILD}/unpack_proof")
file(GLOB LAUNCHER_PROOF_INPUTS CONFIGURE_DEPENDS
     "${LAUNCHER_PROOF_SOURCE}/*" "${LAUNCHER_SOURCE_ROOT}/payload/*.[ch]pp"
     "${LAUNCHER_SOURCE_ROOT}/base/*.[ch]pp")
add_custom_command(
  OUTPUT "${LAUNCHER_PROOF}"
  COMMAND "${CMAKE_COMMAND}" -E env --unset=CC --unset=CXX --unset=CXXFLAGS --unset=LDFLAGS
          --unset=CMAKE_TOOLCHAIN_FILE
          "${CMAKE_COMMAND}" -S "${LAUNCHER_PROOF_SOURCE}" -B "${LAUNCHER_PROOF_BUILD}"
          -G "${CMAKE_GENERATOR}" -DCMAKE_BUILD_TYPE=Release
          "-DLAUNCHER_SOURCE_ROOT=${LAUNCHER_SOURCE_ROOT}"
  COMMAND "${CMAKE_COMMAND}" --build "${LAUNCHER_PROOF_BUILD}" --parallel 2
  # Newer than its inputs even when nothing needed compiling.
  COMMAND "${CMAKE_COMMAND}" -E touch "${LAUNCHER_PROOF}"
  DEPENDS ${LAUNCHER_PROOF_INPUTS}
  COMMENT "Building the unpacking proof (native)"
  VERBATIM)
# The payloads of every directory depend on the program through this target.
add_custom_target(launcher_unpack_proof DEPENDS "${LAUNCHER_PROOF}")

function(launcher_add_payload target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "UNPROVEN" "ARCHIVE;REQUIRE_GAME;NAME_RULES;MAPPED_PAYLOAD_LIMIT"
                        "DEPENDS")
  if(NOT arg_ARCHIVE)
    message(FATAL_ERROR "launcher_add_payload(${target}): ARCHIVE is required")
  endif()
  if(NOT DEFINED arg_MAPPED_PAYLOAD_LIMIT)
    set(arg_MAPPED_PAYLOAD_LIMIT ${LAUNCHER_MAPPED_PAYLOAD_LIMIT})
  endif()
  launcher_check_payload_limit("launcher_add_payload(${target})" "${arg_MAPPED_PAYLOAD_LIMIT}")
  if(NOT DEFINED arg_REQUIRE_GAME)
    set(arg_REQUIRE_GAME ${LAUNCHER_REQUIRE_GAME})
  endif()
  if(NOT arg_NAME_RULES)
    set(arg_NAME_RULES ${LAUNCHER_NAME_RULES})
  endif()
  if(NOT arg_NAME_RULES MATCHES "^(windows|posix)$")
    message(FATAL_ERROR "launcher_add_payload(${target}): NAME_RULES is windows or posix, "
                        "not ${arg_NAME_RULES}")
  endif()
  set(game_args "")
  if(arg_REQUIRE_GAME)
    set(game_args --require-game)
  endif()
  set(proof_args "")
  set(proof_depends "")
  if(NOT arg_UNPROVEN)
    set(proof_args --prove "${LAUNCHER_PROOF}")
    set(proof_depends "${LAUNCHER_PROOF}" launcher_unpack_proof)
  endif()
  get_filename_component(archive "${arg_ARCHIVE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}")
  set(chunks "${dir}/payload_chunks.s")
  set(chunk_table "${dir}/payload_table.cpp")
  set(manifest "${dir}/payload_home.json")
  add_custom_command(
    OUTPUT "${chunks}" "${chunk_table}" "${manifest}"
    COMMAND Python3::Interpreter "${LAUNCHER_PACKER}" "${archive}"
            --format ${LAUNCHER_PAYLOAD_FORMAT} --asm "${chunks}" --table "${chunk_table}"
            --manifest "${manifest}" --limit ${arg_MAPPED_PAYLOAD_LIMIT}
            --rules ${arg_NAME_RULES} --app-name "${LAUNCHER_APP_NAME}"
            --game-exe "${LAUNCHER_GAME_EXE}" --start-map "${LAUNCHER_START_MAP}" ${game_args}
            ${proof_args} --scratch "${dir}/unpack-proof"
    DEPENDS "${archive}" "${LAUNCHER_PACKER}" ${proof_depends} ${arg_DEPENDS}
    COMMENT "Checking and packing ${archive}"
    VERBATIM)
  # .incbin reads the archive while assembling: a changed archive reassembles.
  set_source_files_properties("${chunks}" PROPERTIES OBJECT_DEPENDS "${archive}")
  add_library(${target} OBJECT "${chunks}" "${chunk_table}")
  target_include_directories(${target} PRIVATE "${LAUNCHER_SOURCE_ROOT}")
  set_target_properties(${target} PROPERTIES LAUNCHER_PAYLOAD_MANIFEST "${manifest}")
endfunction()

# Runs with every link of the executable: the packer rewrites the table
# whenever the archive changes, so a changed archive relinks and is attached
# again. A failed attach removes the executable, so the next build links anew.
function(launcher_attach_payload executable payload)
  get_target_property(manifest ${payload} LAUNCHER_PAYLOAD_MANIFEST)
  add_custom_command(TARGET ${executable} POST_BUILD
    COMMAND Python3::Interpreter "${LAUNCHER_ATTACHER}" $<TARGET_FILE:${executable}>
            --manifest "${manifest}"
    VERBATIM)
  set_property(TARGET ${executable} APPEND PROPERTY LINK_DEPENDS "${LAUNCHER_ATTACHER}")
endfunction()

# launcher_core is shared by every executable, so the one value that differs
# between them is compiled into a source of each executable's own.
function(launcher_add_watch_limit target ms)
  if(NOT ms MATCHES "^[1-9][0-9]*$")
    message(FATAL_ERROR "launcher_add_watch_limit(${target}): not a number of milliseconds: ${ms}")
  endif()
  set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}_watch_limit.cpp")
  file(CONFIGURE OUTPUT "${source}" @ONLY CONTENT
"// Made by the build for @target@: its window watch ends after @ms@ ms at the latest.
#include \"launch/watch.hpp\"

watch_state process_watch{0, 0, std::int64_t{@ms@} * 1'000'000};
")
  target_sources(${target} PRIVATE "${source}")
  target_include_directories(${target} PRIVATE "${LAUNCHER_SOURCE_ROOT}")
endfunction()

function(launcher_add_executable target)
  set(branding ICON VERSION PRODUCT_NAME DESCRIPTION COMPANY COPYRIGHT)
  set(signing SIGN_PKCS12 SIGN_CERT SIGN_KEY SIGN_PASSWORD_FILE SIGN_TIMESTAMP_URL)
  cmake_parse_arguments(PARSE_ARGV 1 arg "UNPROVEN"
                        "ARCHIVE;OUTPUT_NAME;WATCH_LIMIT_MS;REQUIRE_GAME;MAPPED_PAYLOAD_LIMIT;${branding};${signing}"
                        "DEPENDS")
  if(NOT arg_WATCH_LIMIT_MS)
    set(arg_WATCH_LIMIT_MS 8001)
  endif()
  set(payload_args "")
  if(DEFINED arg_REQUIRE_GAME)
    list(APPEND payload_args REQUIRE_GAME ${arg_REQUIRE_GAME})
  endif()
  if(arg_UNPROVEN)
    list(APPEND payload_args UNPROVEN)
  endif()
  if(DEFINED arg_MAPPED_PAYLOAD_LIMIT)
    list(APPEND payload_args MAPPED_PAYLOAD_LIMIT ${arg_MAPPED_PAYLOAD_LIMIT})
  endif()
  launcher_add_payload(${target}_payload ARCHIVE "${arg_ARCHIVE}" ${payload_args}
                       DEPENDS ${arg_DEPENDS})
  add_executable(${target} WIN32)
  launcher_add_watch_limit(${target} ${arg_WATCH_LIMIT_MS})
  # launcher_entry brings launcher_core, its libraries and options with it.
  target_link_libraries(${target} PRIVATE launcher_entry ${target}_payload)
  launcher_attach_payload(${target} ${target}_payload)
  if(arg_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME "${arg_OUTPUT_NAME}")
  endif()
  set(branding_args "")
  foreach(field IN LISTS branding)
    if(DEFINED arg_${field})
      list(APPEND branding_args ${field} "${arg_${field}}")
    endif()
  endforeach()
  launcher_add_branding(${target} ${branding_args})
  set(signing_args "")
  foreach(input IN LISTS signing)
    if(DEFINED arg_${input})
      string(REGEX REPLACE "^SIGN_" "" keyword ${input})
      list(APPEND signing_args ${keyword} "${arg_${input}}")
    endif()
  endforeach()
  if(DEFINED arg_PRODUCT_NAME)
    list(APPEND signing_args DESCRIPTION "${arg_PRODUCT_NAME}")
  endif()
  # Last: nothing may change the file once it is signed.
  launcher_sign_executable(${target} ${signing_args})
endfunction()

# The archive the main launcher carries. demo/CMakeLists.txt makes the demo
# game's archive, as the target demo_archive.
set(LAUNCHER_DEMO_ARCHIVE "${CMAKE_BINARY_DIR}/demo/demo-game.zip")
if(LAUNCHER_PAYLOAD)
  get_filename_component(LAUNCHER_PAYLOAD_ARCHIVE "${LAUNCHER_PAYLOAD}" ABSOLUTE
                         BASE_DIR "${CMAKE_BINARY_DIR}")
  if(NOT EXISTS "${LAUNCHER_PAYLOAD_ARCHIVE}")
    message(FATAL_ERROR "LAUNCHER_PAYLOAD: no such archive: ${LAUNCHER_PAYLOAD_ARCHIVE}")
  endif()
  set(LAUNCHER_PAYLOAD_DEPENDS "")
else()
  set(LAUNCHER_PAYLOAD_ARCHIVE "${LAUNCHER_DEMO_ARCHIVE}")
  set(LAUNCHER_PAYLOAD_DEPENDS demo_archive)
endif()
