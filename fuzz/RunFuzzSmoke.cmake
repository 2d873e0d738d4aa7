# Configures and builds the fuzz project with clang, then runs each target for RUNS inputs.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/fuzz/project -B ${BUILD_DIR} -G Ninja
                        -DCMAKE_CXX_COMPILER=${CLANGXX} -DCMAKE_BUILD_TYPE=Debug
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
    message(FATAL_ERROR "fuzz: configure failed (${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "fuzz: build failed (${rc})")
endif()
file(READ ${BUILD_DIR}/fuzz-targets.txt targets)
foreach(t ${targets})
    # A target with seeds in fuzz/corpus starts from them. New inputs go to a folder of the build,
    # the first one named: libFuzzer writes into its first corpus folder, never into the sources.
    set(corpus)
    if(IS_DIRECTORY ${SOURCE_DIR}/fuzz/corpus/${t})
        set(found ${BUILD_DIR}/corpus/${t})
        file(REMOVE_RECURSE ${found})
        file(MAKE_DIRECTORY ${found})
        set(corpus ${found} ${SOURCE_DIR}/fuzz/corpus/${t})
    endif()
    execute_process(COMMAND ${BUILD_DIR}/${t} -runs=${RUNS} -seed=1 -max_len=128 ${corpus}
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(rc)
        message(FATAL_ERROR "fuzz: ${t} failed:\n${err}")
    endif()
    string(REGEX MATCH "DONE +cov: [0-9]+" done "${err}")
    message(STATUS "fuzz: ${t} ran ${RUNS} inputs (${done})")
endforeach()
