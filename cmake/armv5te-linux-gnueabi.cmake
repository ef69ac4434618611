# Cross build for the unit: 32-bit ARMv5TE, little-endian, soft float (Debian's armel
# baseline), with Debian's arm-linux-gnueabi toolchain. Test binaries run under qemu-arm as an
# ARM926.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(UNITCFG_CROSS_PREFIX arm-linux-gnueabi)
set(UNITCFG_SYSROOT /usr/${UNITCFG_CROSS_PREFIX})
set(UNITCFG_LIBC glibc)
set(UNITCFG_TARGET armv5te-linux-gnueabi)

set(CMAKE_C_COMPILER ${UNITCFG_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${UNITCFG_CROSS_PREFIX}-g++)
# Thumb code (every ARMv5TE core runs it; Thumb-1 only, nothing an ARMv6 adds): the program's
# time is its children's, and its code is a third smaller, so that it ends a page earlier and
# the data segment's RELRO alignment pads less (22 KB instead of 26 KB). glibc itself stays
# ARM code; the calls between them interwork.
set(CMAKE_C_FLAGS_INIT "-march=armv5te -mtune=arm926ej-s -mthumb")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -mtune=arm926ej-s -mthumb")

# Libraries, headers and packages come from the target's sysroot only; programs from the host.
set(CMAKE_FIND_ROOT_PATH ${UNITCFG_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The unit's own core: qemu's default CPU would also run ARMv6/v7 and Thumb-2 instructions,
# which an ARM926EJ-S meets with SIGILL.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -cpu arm926 -L ${UNITCFG_SYSROOT})
