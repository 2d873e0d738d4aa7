# GoogleTest built from its sources inside this build, for a cross build: the distribution's
# libgtest-dev carries libraries for the build machine only, but ships the sources.
set(QD7_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources, for a cross build")
if(NOT EXISTS ${QD7_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${QD7_GTEST_SOURCE} (Debian: libgtest-dev)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${QD7_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Someone else's code, built without the project's warning flags; its own CMake names the targets
# GTest::gtest, GTest::gtest_main, GTest::gmock and GTest::gmock_main, as find_package does.
foreach(lib gtest gtest_main gmock gmock_main)
    set_property(TARGET ${lib} PROPERTY COMPILE_OPTIONS -w)
endforeach()
