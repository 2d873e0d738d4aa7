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
foreach(t ParseResponseFuzz BuildTextFuzz)
    execute_process(COMMAND ${BUILD_DIR}/${t} -runs=${RUNS} -seed=1 -max_len=128
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(rc)
        message(FATAL_ERROR "fuzz: ${t} failed:\n${err}")
    endif()
    message(STATUS "fuzz: ${t} ran ${RUNS} inputs")
endforeach()
