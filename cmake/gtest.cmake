# GoogleTest: the host's packaged libraries for native builds. A cross build
# cannot link the host's, so it builds Debian's GoogleTest sources for the
# target, which name their targets GTest::gtest and GTest::gtest_main too.
if(CMAKE_CROSSCOMPILING)
  set(CUE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources built for the target")
  if(NOT EXISTS ${CUE_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${CUE_GTEST_SOURCE_DIR} (package googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${CUE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Third-party code: our warnings-as-errors must not decide whether it builds.
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
