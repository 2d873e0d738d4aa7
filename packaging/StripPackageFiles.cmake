# Run by CPack on its staging folder before it packs (CPACK_PRE_BUILD_SCRIPTS): every ELF file
# stripped as debhelper strips a program, the symbols and the compiler's notes (.comment, .note)
# alike, so that a package from CPack and one from debian/ carry the same programs.
if(NOT CPACK_QD7_STRIP)
    message(FATAL_ERROR "no strip program was found when the build was configured")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS files)
    if(IS_SYMLINK "${file}")
        continue()
    endif()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
        execute_process(COMMAND ${CPACK_QD7_STRIP} --remove-section=.comment --remove-section=.note
                                "${file}"
                        RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "could not strip ${file}")
        endif()
    endif()
endforeach()
