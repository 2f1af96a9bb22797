# Installation (honours DESTDIR) and two Debian packages, CPack components:
#   cue-ctl            the tool for the unit: cue_ctl, its man page, the folders
#                      it needs, the rsyslog examples for a site's log server
#                      and a central store
#   libtessra-log-dev  the logging library for the unit's other applications:
#                      headers, static archive, CMake package, pkg-config file
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(CUE_TOOL cue-ctl)
set(CUE_DEV libtessra-log-dev)

install(TARGETS cue_ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${CUE_TOOL})
# The man page carries the project's version and is installed compressed (-n:
# no name or time stamp, so the same source gives the same bytes).
configure_file(${PROJECT_SOURCE_DIR}/cmd/cue_ctl.1.in ${PROJECT_BINARY_DIR}/cue_ctl.1 @ONLY)
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/cue_ctl.1 COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_BINARY_DIR}/cue_ctl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${CUE_TOOL})
install(FILES ${PROJECT_SOURCE_DIR}/tools/rsyslog/cue_ctl-remote.conf ${PROJECT_SOURCE_DIR}/tools/rsyslog/cue_ctl-remote.logrotate
        ${PROJECT_SOURCE_DIR}/tools/rsyslog/cue_ctl-forward.inc ${PROJECT_SOURCE_DIR}/tools/rsyslog/cue_ctl-central.conf
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT ${CUE_TOOL})
# cue_ctl's fixed paths: it creates the files, not the folders.
install(DIRECTORY DESTINATION /config/tessra COMPONENT ${CUE_TOOL})
install(DIRECTORY DESTINATION /var/log/tessra COMPONENT ${CUE_TOOL})

install(TARGETS log mutex EXPORT TessraLogTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${CUE_DEV}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${CUE_DEV})
install(FILES ${PROJECT_SOURCE_DIR}/log/log.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tessra/log COMPONENT ${CUE_DEV})
install(FILES ${PROJECT_SOURCE_DIR}/mutex/mutex.h ${PROJECT_SOURCE_DIR}/mutex/thread_annotations.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tessra/mutex COMPONENT ${CUE_DEV})
if(NOT BUILD_SHARED_LIBS)
  # As Debian's -dev packages carry archives: symbols, no debug info or .comment.
  # CPack must not strip (cue_ctl's debug info goes to cue-ctl-dbgsym): done here.
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:log>\"
      COMMAND_ERROR_IS_FATAL ANY)" COMPONENT ${CUE_DEV})
endif()

# The CMake package. Its version file also refuses a package built for
# another pointer size (the 32-bit unit's, to a 64-bit consumer).
set(CUE_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TessraLog)
install(EXPORT TessraLogTargets NAMESPACE TessraLog:: DESTINATION ${CUE_CMAKE_PACKAGE_DIR} COMPONENT ${CUE_DEV})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TessraLogConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/TessraLogConfig.cmake ${PROJECT_BINARY_DIR}/TessraLogConfigVersion.cmake
        DESTINATION ${CUE_CMAKE_PACKAGE_DIR} COMPONENT ${CUE_DEV})

# The pkg-config file, with the prefix relative to its own folder.
file(RELATIVE_PATH CUE_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" CUE_PC_TO_PREFIX "${CUE_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tessra-log.pc.in ${PROJECT_BINARY_DIR}/tessra-log.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tessra-log.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT ${CUE_DEV})

# Each package's Debian copyright file, machine-readable: the MIT licence; cue-ctl's adds the static runtimes.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE CUE_LICENSE)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" CUE_LICENSE_HOLDER "${CUE_LICENSE}")
set(CUE_LICENSE_HOLDER ${CMAKE_MATCH_1})
string(REGEX REPLACE "^MIT License\n\n[^\n]+\n\n" "" CUE_LICENSE_TEXT "${CUE_LICENSE}")
string(REGEX REPLACE "\n\n" "\n.\n" CUE_LICENSE_TEXT "${CUE_LICENSE_TEXT}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" CUE_LICENSE_TEXT " ${CUE_LICENSE_TEXT}")
set(CUE_COPYRIGHT "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: cue_ctl

Files: *
Copyright: ${CUE_LICENSE_HOLDER}
License: Expat
${CUE_LICENSE_TEXT}")
file(READ ${CMAKE_CURRENT_LIST_DIR}/debian/cue-ctl.copyright CUE_STATIC_RUNTIMES)
file(WRITE ${PROJECT_BINARY_DIR}/${CUE_TOOL}/copyright "${CUE_COPYRIGHT}${CUE_STATIC_RUNTIMES}")
file(WRITE ${PROJECT_BINARY_DIR}/${CUE_DEV}/copyright "${CUE_COPYRIGHT}")
# One changelog, compressed as the man page: the same bytes for every architecture (Multi-Arch: same).
execute_process(COMMAND gzip -9n INPUT_FILE ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
foreach(package ${CUE_TOOL} ${CUE_DEV})
  install(FILES ${PROJECT_BINARY_DIR}/${package}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${package})
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/cue-ctl.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${CUE_TOOL} COMPONENT ${CUE_TOOL})

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${CUE_TOOL} ${CUE_DEV})
set(CPACK_PACKAGE_NAME cue-ctl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Playback unit developers <playback@tessra.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# CMake spells the per-component variables with the component name upper-cased.
set(CPACK_DEBIAN_CUE-CTL_PACKAGE_NAME ${CUE_TOOL})
set(CPACK_DEBIAN_CUE-CTL_PACKAGE_SECTION misc)
set(CPACK_COMPONENT_CUE-CTL_DESCRIPTION "Playback unit control tool
cue_ctl sends one command (STOP) via the unit's core process to the
playback cards and records every step in its log.")
set(CPACK_DEBIAN_LIBTESSRA-LOG-DEV_PACKAGE_NAME ${CUE_DEV})
set(CPACK_DEBIAN_LIBTESSRA-LOG-DEV_PACKAGE_SECTION "libdevel\nMulti-Arch: same")
set(CPACK_COMPONENT_LIBTESSRA-LOG-DEV_DESCRIPTION "Playback unit logging library, development files
The logging library of the playback unit's applications: log records to a
rotated file or a log server, with its mutex. Static library, headers,
CMake package (TessraLog) and pkg-config file (tessra-log).")
# CPack writes no Built-Using or Multi-Arch field: each follows the Section on its own line. Built-Using:
# the source packages, per dpkg, of the static libc and libstdc++ (whose source builds libgcc) in cue_ctl.
if(CUE_SHIPPED_LINK)
  foreach(runtime libc.a libstdc++.a)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(REAL_PATH ${path} path)
    execute_process(COMMAND dpkg-query --search ${path} OUTPUT_VARIABLE owner COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE ":.*" "" owner "${owner}")
    execute_process(COMMAND dpkg-query --show "--showformat=\${source:Package} (= \${source:Version})" ${owner}
                    OUTPUT_VARIABLE source)
    list(APPEND CUE_BUILT_USING ${source})
  endforeach()
  list(JOIN CUE_BUILT_USING ", " CUE_BUILT_USING)
  string(APPEND CPACK_DEBIAN_CUE-CTL_PACKAGE_SECTION "\nBuilt-Using: ${CUE_BUILT_USING}")
endif()

# The unit has little flash: cue_ctl ships stripped, its debug info in cue-ctl-dbgsym, for gdb on the host.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/repack_dbgsym.cmake)
# cue_ctl links fully static in every packaged build (CUE_SHIPPED_LINK) and
# the library is static: neither package needs anything on the unit. Only
# the checking builds link dynamically, and they are not packaged.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# The one cross build is the unit's; a native package takes the host's
# architecture from dpkg --print-architecture.
if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE powerpc)
endif()

include(CPack)
