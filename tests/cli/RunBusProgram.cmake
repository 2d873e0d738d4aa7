# Runs PROGRAM with ARGS, through EMULATOR when there is one (wine for a cross build), and checks
# its exit code (EXPECT_CODE) and what it writes to stdout and stderr (OUT_REGEX, ERR_REGEX).
# Lists come with "|" between their items; Windows' line ends are read as "\n".
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${emulator} ${PROGRAM} ${args}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
string(REPLACE "\r\n" "\n" out "${out}")
string(REPLACE "\r\n" "\n" err "${err}")
set(report "exit code: ${code}\nstdout:\n${out}\nstderr:\n${err}")
if(NOT code STREQUAL "${EXPECT_CODE}")
    message(FATAL_ERROR "expected exit code ${EXPECT_CODE}\n${report}")
endif()
if(NOT out MATCHES "${OUT_REGEX}")
    message(FATAL_ERROR "stdout does not match: ${OUT_REGEX}\n${report}")
endif()
if(NOT err MATCHES "${ERR_REGEX}")
    message(FATAL_ERROR "stderr does not match: ${ERR_REGEX}\n${report}")
endif()
