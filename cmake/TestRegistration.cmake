# How a GoogleTest program becomes ctest tests.
#
# qd7_add_gtests(target <gtest_discover_tests arguments>...): on Linux every test of the program
# on its own, as gtest_discover_tests finds them. Built for Windows, the program is one ctest
# labelled "windows": in a cross build it runs under wine (CMAKE_CROSSCOMPILING_EMULATOR), whose
# every start costs a second, and discovering the tests would start it at build time as well.
function(qd7_add_gtests target)
    if(WIN32)
        add_test(NAME ${target} COMMAND ${target})
        set_tests_properties(${target} PROPERTIES LABELS windows FIXTURES_REQUIRED wine_prefix)
    else()
        gtest_discover_tests(${target} ${ARGN})
    endif()
endfunction()

# In a cross build, wine's prefix in the build tree is made once, before the tests that run under
# wine (which would otherwise race to make it: the first start takes several seconds), with no COM
# port linked to a device of the machine; the fixture fails when one is.
if(WIN32 AND CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
    set(QD7_HOST_SIM "" CACHE FILEPATH "qd7-sim built for the build machine, for the wine tests")
    add_test(NAME wine_prefix
             COMMAND ${PROJECT_SOURCE_DIR}/tests/support/WinePrefix.sh init
                     ${CMAKE_BINARY_DIR}/wine ${CMAKE_CROSSCOMPILING_EMULATOR})
    set_tests_properties(wine_prefix PROPERTIES LABELS windows FIXTURES_SETUP wine_prefix
                         TIMEOUT 300)
endif()
