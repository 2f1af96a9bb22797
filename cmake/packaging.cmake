# Installation (honours DESTDIR) and the Debian package cue-ctl: the tool,
# its man page, and the log and mutex libraries with their headers.
include(GNUInstallDirs)

install(TARGETS cue_ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS log mutex ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/log/log.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/log)
install(FILES ${PROJECT_SOURCE_DIR}/mutex/mutex.h ${PROJECT_SOURCE_DIR}/mutex/thread_annotations.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/mutex)
install(FILES ${PROJECT_SOURCE_DIR}/cmd/cue_ctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cue-ctl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Playback unit control tool, with its log and mutex libraries")
set(CPACK_PACKAGE_CONTACT "Playback unit developers <playback@tessra.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The unit has little flash: ship cue_ctl without its debug info.
set(CPACK_STRIP_FILES ON)

if(CMAKE_CROSSCOMPILING)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(powerpc|ppc)$")
    message(FATAL_ERROR "No Debian architecture known for target processor ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE powerpc)
  # dpkg-shlibdeps cannot see the target's libraries, so the run-time
  # dependencies are stated here: the versions Debian gives for the newest
  # symbol versions cue_ctl links against (GLIBC_2.34, GLIBCXX_3.4.21,
  # GCC_3.0). scripts/check_package checks them against the binary.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  if(NOT CUE_STATIC)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 5.2), libgcc-s1 (>= 3.0)")
  endif()
else()
  execute_process(COMMAND dpkg --print-architecture
                  OUTPUT_VARIABLE CUE_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE CUE_DPKG_RESULT ERROR_QUIET)
  if(CUE_DPKG_RESULT EQUAL 0 AND CUE_DEB_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CUE_DEB_ARCH})
  else()
    message(WARNING "dpkg --print-architecture failed: the package's Architecture is left to CPack")
  endif()
  find_program(CUE_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(CUE_STATIC)
    # A static cue_ctl depends on nothing.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  elseif(CUE_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    message(WARNING "dpkg-shlibdeps not found (package dpkg-dev): Depends stated without versions")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
endif()

include(CPack)

include(${CMAKE_CURRENT_LIST_DIR}/size_report.cmake)
