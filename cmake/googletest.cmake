# GoogleTest built from its sources for the target when cross-compiling (Debian's googletest
# package puts them in /usr/src/googletest). Its CMake files name the targets as
# find_package(GTest) does (GTest::gtest, GTest::gtest_main).
set(KORVELAN380_GOOGLETEST_SOURCE_DIR /usr/src/googletest/googletest
  CACHE PATH "GoogleTest sources, built with the tests when cross-compiling")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KORVELAN380_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest
  EXCLUDE_FROM_ALL)
# GoogleTest's own code is not held to the project's warning flags.
set_target_properties(gtest gtest_main PROPERTIES COMPILE_OPTIONS "")
# The test programs cannot run at build time: list their tests when ctest runs, under the emulator.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
