# The install's life beyond one start in an empty folder: launchers started
# together, killed part-way, an update from one version of a game to the next
# over the player's own files, too little disk space, a file held open.
unpack_test_launcher(update_a FILE_HOME)
unpack_test_launcher(update_b FILE_HOME)

set(lifecycle_args
  --many $<TARGET_FILE:progress_unpack_launcher> --many-archive "${progress_archive}"
  --version-a $<TARGET_FILE:unpack_launcher_update_a>
  --version-a-archive "${unpack_payloads}/update_a.zip"
  --version-b $<TARGET_FILE:unpack_launcher_update_b>
  --version-b-archive "${unpack_payloads}/update_b.zip"
  --version-a-file $<TARGET_FILE:unpack_launcher_update_a_file>
  --version-b-file $<TARGET_FILE:unpack_launcher_update_b_file>
  --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/lifecycle")
if(WIN32)
  add_executable(hold_file "${LAUNCHER_TEST_TOOLS}/hold_file.cpp")
  launcher_e2e_test(e2e_lifecycle "${CMAKE_CURRENT_SOURCE_DIR}/test_lifecycle_windows.py"
    ${lifecycle_args} --many-file $<TARGET_FILE:progress_unpack_file_launcher>
    --hold $<TARGET_FILE:hold_file> --probe $<TARGET_FILE:msgbox_probe>
    --prefix "${LAUNCHER_WINE_PREFIX}")
  # Every file on the disk before the stamp says so, read from strace's record
  # of the launcher's process and wine's server.
  launcher_e2e_test(e2e_flush_trace "${CMAKE_CURRENT_SOURCE_DIR}/test_flush_windows.py"
    --version-a $<TARGET_FILE:unpack_launcher_update_a>
    --version-a-archive "${unpack_payloads}/update_a.zip"
    --version-b $<TARGET_FILE:unpack_launcher_update_b>
    --version-b-archive "${unpack_payloads}/update_b.zip"
    --version-a-file $<TARGET_FILE:unpack_launcher_update_a_file>
    --version-b-file $<TARGET_FILE:unpack_launcher_update_b_file>
    --prefix "${LAUNCHER_WINE_PREFIX}" --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/flush trace")
else()
  launcher_e2e_test(e2e_lifecycle "${CMAKE_CURRENT_SOURCE_DIR}/test_lifecycle_linux.py"
    ${lifecycle_args} --big $<TARGET_FILE:unpack_launcher_big>
    --big-file $<TARGET_FILE:unpack_launcher_big_file>
    --big-archive "${unpack_payloads}/big.zip")
  # Every file on the disk before the stamp says so, read from strace's record
  # of a first install and an update.
  launcher_e2e_test(e2e_flush_trace "${CMAKE_CURRENT_SOURCE_DIR}/test_flush_linux.py"
    --version-a $<TARGET_FILE:unpack_launcher_update_a>
    --version-a-archive "${unpack_payloads}/update_a.zip"
    --version-b $<TARGET_FILE:unpack_launcher_update_b>
    --version-b-archive "${unpack_payloads}/update_b.zip"
    --version-a-file $<TARGET_FILE:unpack_launcher_update_a_file>
    --version-b-file $<TARGET_FILE:unpack_launcher_update_b_file>
    --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/flush trace")
endif()

# An update where about 1% of the files differ, from either home of the archive.
unpack_test_launcher(partial_a FILE_HOME)
unpack_test_launcher(partial_b FILE_HOME)
set(partial_update_args
  --a $<TARGET_FILE:unpack_launcher_partial_a> --a-file $<TARGET_FILE:unpack_launcher_partial_a_file>
  --a-archive "${unpack_payloads}/partial_a.zip"
  --b $<TARGET_FILE:unpack_launcher_partial_b> --b-file $<TARGET_FILE:unpack_launcher_partial_b_file>
  --b-archive "${unpack_payloads}/partial_b.zip"
  --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/partial update")
if(WIN32)
  launcher_e2e_test(e2e_partial_update "${CMAKE_CURRENT_SOURCE_DIR}/test_partial_update_windows.py"
    ${partial_update_args} --hold $<TARGET_FILE:hold_file> --probe $<TARGET_FILE:msgbox_probe>
    --prefix "${LAUNCHER_WINE_PREFIX}")
else()
  launcher_e2e_test(e2e_partial_update "${CMAKE_CURRENT_SOURCE_DIR}/test_partial_update_linux.py"
    ${partial_update_args})
endif()
