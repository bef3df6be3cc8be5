# The unpacking road end to end: launchers built exactly like the main one,
# each carrying an archive of the tests' own (tests/tools/unpack_payload.py)
# with test_game as the game's executable.
set(unpack_payloads "${CMAKE_CURRENT_BINARY_DIR}/unpack-payloads")

# unpack_test_launcher(<kind> [UNPROVEN]): UNPROVEN for an archive damaged on
# purpose, which the build's unpacking proof would refuse.
function(unpack_test_launcher kind)
  set(archive "${unpack_payloads}/${kind}.zip")
  add_custom_command(
    OUTPUT "${archive}"
    COMMAND Python3::Interpreter "${LAUNCHER_TEST_TOOLS}/unpack_payload.py"
            --game $<TARGET_FILE:test_game> --output "${archive}" --kind ${kind}
    DEPENDS test_game "${LAUNCHER_TEST_TOOLS}/unpack_payload.py" "${LAUNCHER_TEST_TOOLS}/zip_layout.py"
    COMMENT "Making the ${kind} test archive"
    VERBATIM)
  launcher_add_executable(unpack_launcher_${kind} ARCHIVE "${archive}" ${ARGN}
    OUTPUT_NAME "unpack_${kind}" WATCH_LIMIT_MS ${LAUNCHER_TEST_WATCH_LIMIT_MS})
endfunction()

unpack_test_launcher(small)
unpack_test_launcher(crc UNPROVEN)

if(WIN32)
  launcher_e2e_test(e2e_unpack "${CMAKE_CURRENT_SOURCE_DIR}/test_unpack_windows.py"
    --small $<TARGET_FILE:unpack_launcher_small> --crc $<TARGET_FILE:unpack_launcher_crc>
    --small-archive "${unpack_payloads}/small.zip"
    --probe $<TARGET_FILE:msgbox_probe> --prefix "${LAUNCHER_WINE_PREFIX}"
    --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/unpack")
  # Signing with the build's own step and certificates made when the test
  # runs; each launcher given is signed and run beside its unsigned self.
  launcher_e2e_test(e2e_signing "${CMAKE_CURRENT_SOURCE_DIR}/test_signing.py"
    --sign-script "${PROJECT_SOURCE_DIR}/cmake/sign_file.cmake"
    --probe $<TARGET_FILE:msgbox_probe> --prefix "${LAUNCHER_WINE_PREFIX}"
    --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/signing"
    --launcher $<TARGET_FILE:unpack_launcher_small>)
else()
  unpack_test_launcher(big)
  launcher_e2e_test(e2e_unpack "${CMAKE_CURRENT_SOURCE_DIR}/test_unpack_linux.py"
    --small $<TARGET_FILE:unpack_launcher_small> --crc $<TARGET_FILE:unpack_launcher_crc>
    --big $<TARGET_FILE:unpack_launcher_big>
    --small-archive "${unpack_payloads}/small.zip" --big-archive "${unpack_payloads}/big.zip"
    --scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/unpack")
endif()
