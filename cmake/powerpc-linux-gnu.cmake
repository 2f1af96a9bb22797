# Cross build for the playback unit: 32-bit big-endian PowerPC Linux, with
# Debian's powerpc-linux-gnu toolchain. Target binaries run here under
# qemu-ppc, so ctest and gtest_discover_tests work as on a native build.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(CUE_TARGET_TRIPLET powerpc-linux-gnu)
set(CUE_TARGET_ROOT /usr/${CUE_TARGET_TRIPLET})

set(CMAKE_C_COMPILER ${CUE_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CUE_TARGET_TRIPLET}-g++)

# Libraries, headers and packages come from the target trees only: the cross toolchain's
# and / (multiarch packages: /usr/lib/powerpc-linux-gnu). Programs (qemu, python) from the host.
set(CMAKE_FIND_ROOT_PATH ${CUE_TARGET_ROOT} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(CUE_QEMU_PPC qemu-ppc)
if(CUE_QEMU_PPC)
  # -L: the target's dynamic loader and libraries live under the cross tree.
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CUE_QEMU_PPC};-L;${CUE_TARGET_ROOT}")
else()
  message(WARNING "qemu-ppc not found (package qemu-user): PowerPC binaries "
                  "cannot run on this host, so tests will fail.")
endif()
