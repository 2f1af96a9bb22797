# Installation (honours DESTDIR) and the Debian package cue-ctl: the tool, its
# man page, an rsyslog input for the site's log server, and libtessra_log for
# the unit's other applications, with its headers under include/tessra, a
# CMake package (TessraLog) and a pkg-config file (tessra-log).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS cue_ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/cmd/cue_ctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/tools/rsyslog/cue_ctl-remote.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

install(TARGETS log mutex EXPORT TessraLogTargets)
install(FILES ${PROJECT_SOURCE_DIR}/log/log.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tessra/log)
install(FILES ${PROJECT_SOURCE_DIR}/mutex/mutex.h ${PROJECT_SOURCE_DIR}/mutex/thread_annotations.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tessra/mutex)
if(NOT BUILD_SHARED_LIBS)
  # install --strip (and CPack) strips executables and shared libraries only:
  # the archive keeps its symbols but loses its debug info here.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:log>\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()")
endif()

# The CMake package. Its version file also refuses a package built for
# another pointer size (the 32-bit unit's, to a 64-bit consumer).
set(CUE_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TessraLog)
install(EXPORT TessraLogTargets NAMESPACE TessraLog:: DESTINATION ${CUE_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TessraLogConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/TessraLogConfig.cmake ${PROJECT_BINARY_DIR}/TessraLogConfigVersion.cmake
        DESTINATION ${CUE_CMAKE_PACKAGE_DIR})

# The pkg-config file, with the prefix relative to its own folder.
file(RELATIVE_PATH CUE_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" CUE_PC_TO_PREFIX "${CUE_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tessra-log.pc.in ${PROJECT_BINARY_DIR}/tessra-log.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tessra-log.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cue-ctl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Playback unit control tool, with its logging library")
set(CPACK_PACKAGE_CONTACT "Playback unit developers <playback@tessra.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The unit has little flash: no debug info in the package.
set(CPACK_STRIP_FILES ON)
# cue_ctl links fully static in every packaged build (CUE_SHIPPED_LINK) and
# the library is static: the package needs nothing on the unit. Only the
# checking builds link dynamically, and they are not packaged.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# The one cross build is the unit's; a native package takes the host's
# architecture from dpkg --print-architecture.
if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE powerpc)
endif()

include(CPack)
