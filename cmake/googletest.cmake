# GoogleTest and GoogleMock for the tests: GTest::gtest, GTest::gtest_main, GTest::gmock and
# GTest::gmock_main. A 32-bit build compiles them from the sources Debian's googletest
# package installs (a dependency of the amd64 libgtest-dev), so that it needs no :i386
# GoogleTest packages; a native build links Debian's compiled libraries, which spares it
# compiling them again with its sanitizers.
set(HXA_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
  "GoogleTest's sources, compiled by the 32-bit builds")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  if(NOT EXISTS ${HXA_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest's sources are not in ${HXA_GOOGLETEST_SOURCE_DIR} "
      "(Debian's googletest package; ./x setup installs it)")
  endif()
  set(BUILD_GMOCK ON)
  set(INSTALL_GTEST OFF)
  # Built only as far as a test links them; SYSTEM keeps their headers out of our warnings.
  add_subdirectory(${HXA_GOOGLETEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest
    EXCLUDE_FROM_ALL SYSTEM)
  # GoogleTest's own CMake names them GTest::<library> as well.
  foreach(library gtest gtest_main gmock gmock_main)
    target_compile_options(${library} PRIVATE -w)
  endforeach()
  message(STATUS "GoogleTest: compiled from ${HXA_GOOGLETEST_SOURCE_DIR}")
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
