# The game the launcher carries: its ZIP archive is checked and turned into
# the chunk table at build time (payload/tools/pack_payload.py), and linked
# into launcher executables only, never into launcher_core.
#
#   LAUNCHER_PAYLOAD           the game's .zip; empty: the demo game (demo/)
#   launcher_add_payload(<target> ARCHIVE <zip> [DEPENDS <targets or files>...])
#       an object library holding the chunks and `payload_chunks` of <zip>
#   launcher_add_executable(<target> ARCHIVE <zip> [OUTPUT_NAME <name>]
#                           [WATCH_LIMIT_MS <ms>] [DEPENDS <targets or files>...])
#       a launcher exactly like the main one (entry point, resources, link
#       options, GUI subsystem) carrying <zip>; its window watch ends after
#       <ms> (default 8001, the shipped launcher's) at the latest
#   launcher_add_watch_limit(<target> <ms>)
#       the process-wide watch with that time limit, for any other program
#       that links launcher_core's launch code (the unit tests)
#
# The packer runs whenever the archive changes and refuses an archive the
# launcher could not unpack, failing the build with a message that names the
# archive and the entry.
enable_language(ASM)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(LAUNCHER_PAYLOAD "" CACHE FILEPATH
    "The game's ZIP archive that the launcher carries (empty: the demo game)")
# Found from this file, so that other projects (the packer's tests) can include it.
get_filename_component(LAUNCHER_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(LAUNCHER_PACKER "${LAUNCHER_SOURCE_ROOT}/payload/tools/pack_payload.py")
if(WIN32)
  set(LAUNCHER_PAYLOAD_FORMAT pe)
else()
  set(LAUNCHER_PAYLOAD_FORMAT elf)
endif()

function(launcher_add_payload target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ARCHIVE" "DEPENDS")
  if(NOT arg_ARCHIVE)
    message(FATAL_ERROR "launcher_add_payload(${target}): ARCHIVE is required")
  endif()
  get_filename_component(archive "${arg_ARCHIVE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}")
  set(chunks "${dir}/payload_chunks.s")
  set(chunk_table "${dir}/payload_table.cpp")
  add_custom_command(
    OUTPUT "${chunks}" "${chunk_table}"
    COMMAND Python3::Interpreter "${LAUNCHER_PACKER}" "${archive}"
            --format ${LAUNCHER_PAYLOAD_FORMAT} --asm "${chunks}" --table "${chunk_table}"
            --game-exe "${LAUNCHER_GAME_EXE}"
    DEPENDS "${archive}" "${LAUNCHER_PACKER}" ${arg_DEPENDS}
    COMMENT "Checking and packing ${archive}"
    VERBATIM)
  # .incbin reads the archive while assembling: a changed archive reassembles.
  set_source_files_properties("${chunks}" PROPERTIES OBJECT_DEPENDS "${archive}")
  add_library(${target} OBJECT "${chunks}" "${chunk_table}")
  target_include_directories(${target} PRIVATE "${LAUNCHER_SOURCE_ROOT}")
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
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ARCHIVE;OUTPUT_NAME;WATCH_LIMIT_MS" "DEPENDS")
  if(NOT arg_WATCH_LIMIT_MS)
    set(arg_WATCH_LIMIT_MS 8001)
  endif()
  launcher_add_payload(${target}_payload ARCHIVE "${arg_ARCHIVE}" DEPENDS ${arg_DEPENDS})
  add_executable(${target} WIN32)
  launcher_add_watch_limit(${target} ${arg_WATCH_LIMIT_MS})
  # launcher_entry brings launcher_core, its libraries and options with it.
  target_link_libraries(${target} PRIVATE launcher_entry ${target}_payload)
  if(arg_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME "${arg_OUTPUT_NAME}")
  endif()
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
