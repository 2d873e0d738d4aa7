# Runs PROGRAM with ARGS, through EMULATOR when there is one (wine for a cross build), and checks
# its exit code (EXPECT_CODE) and what it writes to stdout and stderr (OUT_REGEX, ERR_REGEX; and,
# when given, OUT_NOT_REGEX, which stdout must not match).
# Lists come with "|" between their items; Windows' line ends are read as "\n".
#
# The output goes to files, not pipes: under wine, the wine server keeps a program's standard
# handles after the program has ended, and a pipe would stay open until the server itself exits.
# A server that a test happened to start may also write its shutdown report, a dump of its objects
# ("0x55d0...:1: Process id=0128 ..."), into that test's stderr; such lines are wine's, not the
# program's, and are left out of the check.
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" args "${ARGS}")
string(RANDOM LENGTH 12 token)
set(outFile "${CMAKE_CURRENT_BINARY_DIR}/run-${token}.out")
set(errFile "${CMAKE_CURRENT_BINARY_DIR}/run-${token}.err")
execute_process(COMMAND ${emulator} ${PROGRAM} ${args}
                RESULT_VARIABLE code OUTPUT_FILE ${outFile} ERROR_FILE ${errFile} TIMEOUT 60)
file(READ ${outFile} out)
file(READ ${errFile} err)
file(REMOVE ${outFile} ${errFile})
string(REPLACE "\r\n" "\n" out "${out}")
string(REPLACE "\r\n" "\n" err "${err}")
if(emulator)
    string(REGEX REPLACE "0x[0-9a-f]+:[0-9]+: [^\n]*\n" "" err "${err}")
endif()
set(report "exit code: ${code}\nstdout:\n${out}\nstderr:\n${err}")
if(NOT code STREQUAL "${EXPECT_CODE}")
    message(FATAL_ERROR "expected exit code ${EXPECT_CODE}\n${report}")
endif()
if(NOT out MATCHES "${OUT_REGEX}")
    message(FATAL_ERROR "stdout does not match: ${OUT_REGEX}\n${report}")
endif()
if(OUT_NOT_REGEX AND out MATCHES "${OUT_NOT_REGEX}")
    message(FATAL_ERROR "stdout matches what it must not: ${OUT_NOT_REGEX}\n${report}")
endif()
if(NOT err MATCHES "${ERR_REGEX}")
    message(FATAL_ERROR "stderr does not match: ${ERR_REGEX}\n${report}")
endif()
