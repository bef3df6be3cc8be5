# The free-space check against what a real game takes: a launcher of each home
# carrying an archive shaped like a real game's (the benchmark's maker: about
# 2,200 files, most of them small, in nested folders), run on private tmpfs
# mounts of many sizes. Native Linux only: the mounts need a mount namespace.
if(NOT WIN32)
  set(space_archive "${CMAKE_CURRENT_BINARY_DIR}/space-payload/real-shaped.zip")
  add_custom_command(
    OUTPUT "${space_archive}"
    COMMAND Python3::Interpreter "${PROJECT_SOURCE_DIR}/bench/make_archive.py" "${space_archive}"
            --game $<TARGET_FILE:test_game>
    DEPENDS test_game "${PROJECT_SOURCE_DIR}/bench/make_archive.py"
    COMMENT "Making the real-shaped test archive"
    VERBATIM)
  launcher_add_executable(space_launcher ARCHIVE "${space_archive}"
    OUTPUT_NAME "space_real" WATCH_LIMIT_MS ${LAUNCHER_TEST_WATCH_LIMIT_MS})
  launcher_add_executable(space_launcher_file ARCHIVE "${space_archive}"
    OUTPUT_NAME "space_real_file" WATCH_LIMIT_MS ${LAUNCHER_TEST_WATCH_LIMIT_MS}
    MAPPED_PAYLOAD_LIMIT 0)
  launcher_e2e_test(e2e_space "${CMAKE_CURRENT_SOURCE_DIR}/test_space_linux.py"
    --image $<TARGET_FILE:space_launcher> --file $<TARGET_FILE:space_launcher_file>
    --archive "${space_archive}" --runner "${LAUNCHER_TEST_TOOLS}/tmpfs_runs.py"
    --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/space")
endif()
