# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiles with Debian's cross compiler for QUORLIX_CROSS_TRIPLET (aarch64-linux-gnu,
# arm-linux-gnueabihf) against the target's Debian packages unpacked in QUORLIX_SYSROOT, as
# tools/cross-build sets both. Qt's host tools come from QT_HOST_PATH (this machine's Qt).
set(CMAKE_SYSTEM_NAME Linux)
# CMake reads this file again for each try_compile: hand the two on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORLIX_CROSS_TRIPLET QUORLIX_SYSROOT)
if(NOT QUORLIX_CROSS_TRIPLET OR NOT QUORLIX_SYSROOT)
    message(FATAL_ERROR "Set QUORLIX_CROSS_TRIPLET and QUORLIX_SYSROOT, as tools/cross-build does")
endif()
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${QUORLIX_CROSS_TRIPLET})

set(CMAKE_SYSROOT ${QUORLIX_SYSROOT})
set(CMAKE_C_COMPILER ${QUORLIX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUORLIX_CROSS_TRIPLET}-g++)
# Libraries, headers and CMake packages from the sysroot alone; programs from this machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config (libcap) reads the target's .pc files and prefixes their paths with the sysroot.
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${QUORLIX_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    "${QUORLIX_SYSROOT}/usr/lib/${QUORLIX_CROSS_TRIPLET}/pkgconfig:${QUORLIX_SYSROOT}/usr/share/pkgconfig")
# On 32-bit ARM, GCC notes at every std::sort of doubles that GCC 7.1 changed how such
# arguments are passed: nothing built here mixes code from compilers that old.
if(QUORLIX_CROSS_TRIPLET MATCHES "^arm-")
    string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-psabi")
endif()
