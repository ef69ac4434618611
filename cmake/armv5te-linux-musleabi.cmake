# Cross build for any ARMv5TE unit whatever its libc: 32-bit ARMv5TE, little-endian, soft float,
# linked fully static against musl (Debian's musl-dev:armel) with Debian's arm-linux-gnueabi
# compiler. The program runs on the kernel alone. Test binaries run under qemu-arm as an ARM926.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(UNITCFG_CROSS_PREFIX arm-linux-gnueabi)
set(UNITCFG_MUSL_SPECS /usr/lib/arm-linux-musleabi/musl-gcc.specs)
set(UNITCFG_SYSROOT /usr/lib/arm-linux-musleabi)
set(UNITCFG_LIBC musl)
set(UNITCFG_TARGET armv5te-linux-musleabi)

set(CMAKE_C_COMPILER ${UNITCFG_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${UNITCFG_CROSS_PREFIX}-g++)
# The specs put musl's headers, start files and libc in place of glibc's, and drop every other
# standard header directory: the C++ library's headers there are made for glibc. The product
# code needs none of them, only the C library's headers.
set(unitcfg_flags "-march=armv5te -mtune=arm926ej-s -specs=${UNITCFG_MUSL_SPECS}")
# Each function and object in a section of its own, and the sections nothing reaches left out
# of the program (`--gc-sections` below): 2.5 KB of the static build, most of it musl's.
set(CMAKE_C_FLAGS_INIT "${unitcfg_flags} -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "${unitcfg_flags} -ffunction-sections -fdata-sections")
# The data follows the code in the file without padding to a page: no RELRO segment, which a
# static, non-PIE musl program never makes read-only (only musl's dynamic loader does), and no
# page alignment of the data segment's file offset (the kernel maps the page they share twice).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,-z,norelro,-z,common-page-size=16,--gc-sections")

set(CMAKE_FIND_ROOT_PATH ${UNITCFG_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static: the emulator needs no library directory. The unit's own core, as in the glibc build.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -cpu arm926)
