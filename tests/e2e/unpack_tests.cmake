# The unpacking road end to end: launchers built exactly like the main one,
# each carrying an archive of the tests' own (tests/tools/unpack_payload.py)
# with test_game as the game's executable.
set(unpack_payloads "${CMAKE_CURRENT_BINARY_DIR}/unpack-payloads")

# unpack_test_launcher(<kind> [UNPROVEN] [FILE_HOME]): UNPROVEN for an archive
# damaged on purpose, which the build's unpacking proof would refuse.
# FILE_HOME adds a twin, unpack_launcher_<kind>_file (unpack_<kind>_file),
# that carries the same archive attached to its file: the limit lowered to
# nothing sends every archive there.
function(unpack_test_launcher kind)
  cmake_parse_arguments(PARSE_ARGV 1 arg "UNPROVEN;FILE_HOME" "" "")
  set(proof "")
  if(arg_UNPROVEN)
    set(proof UNPROVEN)
  endif()
  set(archive "${unpack_payloads}/${kind}.zip")
  add_custom_command(
    OUTPUT "${archive}"
    COMMAND Python3::Interpreter "${LAUNCHER_TEST_TOOLS}/unpack_payload.py"
            --game $<TARGET_FILE:test_game> --output "${archive}" --kind ${kind}
    DEPENDS test_game "${LAUNCHER_TEST_TOOLS}/unpack_payload.py" "${LAUNCHER_TEST_TOOLS}/zip_layout.py"
    COMMENT "Making the ${kind} test archive"
    VERBATIM)
  launcher_add_executable(unpack_launcher_${kind} ARCHIVE "${archive}" ${proof}
    OUTPUT_NAME "unpack_${kind}" WATCH_LIMIT_MS ${LAUNCHER_TEST_WATCH_LIMIT_MS})
  if(arg_FILE_HOME)
    launcher_add_executable(unpack_launcher_${kind}_file ARCHIVE "${archive}" ${proof}
      OUTPUT_NAME "unpack_${kind}_file" WATCH_LIMIT_MS ${LAUNCHER_TEST_WATCH_LIMIT_MS}
      MAPPED_PAYLOAD_LIMIT 0)
  endif()
endfunction()

unpack_test_launcher(small FILE_HOME)
unpack_test_launcher(crc UNPROVEN FILE_HOME)

if(WIN32)
  launcher_e2e_test(e2e_unpack "${CMAKE_CURRENT_SOURCE_DIR}/test_unpack_windows.py"
    --small $<TARGET_FILE:unpack_launcher_small> --crc $<TARGET_FILE:unpack_launcher_crc>
    --small-file $<TARGET_FILE:unpack_launcher_small_file>
    --crc-file $<TARGET_FILE:unpack_launcher_crc_file>
    --small-archive "${unpack_payloads}/small.zip"
    --probe $<TARGET_FILE:msgbox_probe> --prefix "${LAUNCHER_WINE_PREFIX}"
    --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/unpack")
  # Signing with the build's own step and certificates made when the test
  # runs; each launcher given is signed and run beside its unsigned self.
  launcher_e2e_test(e2e_signing "${CMAKE_CURRENT_SOURCE_DIR}/test_signing.py"
    --sign-script "${PROJECT_SOURCE_DIR}/cmake/sign_file.cmake"
    --probe $<TARGET_FILE:msgbox_probe> --prefix "${LAUNCHER_WINE_PREFIX}"
    --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/signing"
    --launcher $<TARGET_FILE:unpack_launcher_small>
    --launcher $<TARGET_FILE:unpack_launcher_small_file>)
else()
  unpack_test_launcher(big FILE_HOME)
  launcher_e2e_test(e2e_unpack "${CMAKE_CURRENT_SOURCE_DIR}/test_unpack_linux.py"
    --small $<TARGET_FILE:unpack_launcher_small> --crc $<TARGET_FILE:unpack_launcher_crc>
    --big $<TARGET_FILE:unpack_launcher_big>
    --small-file $<TARGET_FILE:unpack_launcher_small_file>
    --crc-file $<TARGET_FILE:unpack_launcher_crc_file>
    --big-file $<TARGET_FILE:unpack_launcher_big_file>
    --small-archive "${unpack_payloads}/small.zip" --big-archive "${unpack_payloads}/big.zip"
    --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/unpack")
  # An entry of more than 2 GiB, made and removed by the test itself.
  launcher_e2e_test(e2e_large_entry "${CMAKE_CURRENT_SOURCE_DIR}/test_large_entry.py"
    --proof "${LAUNCHER_PROOF}" --packer "${LAUNCHER_PACKER}"
    --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/large entry")
endif()

# The attach step on a launcher this build's toolchain linked, and the
# packer's refusal of archives that would make a Windows executable too big.
launcher_e2e_test(e2e_attach "${CMAKE_CURRENT_SOURCE_DIR}/test_attach.py"
  --launcher $<TARGET_FILE:unpack_launcher_small_file> --archive "${unpack_payloads}/small.zip"
  --plain $<TARGET_FILE:test_game> --format ${LAUNCHER_PAYLOAD_FORMAT}
  --packer "${LAUNCHER_PACKER}" --attacher "${LAUNCHER_ATTACHER}"
  --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/attach")
