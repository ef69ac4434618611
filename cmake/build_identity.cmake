# Which build this is, as `unitcfg --version` prints it and the package's name tells: the target
# and libc that the toolchain file names (UNITCFG_TARGET, UNITCFG_LIBC), else the compiler's own
# target and the libc its headers show; and whether the program is linked static.
if(NOT UNITCFG_TARGET)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpmachine OUTPUT_VARIABLE UNITCFG_TARGET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT UNITCFG_LIBC)
  include(CheckCSourceCompiles)
  check_c_source_compiles("#include <stdio.h>\n#ifndef __GLIBC__\n#error\n#endif\nint main(void) { return 0; }"
                          UNITCFG_HAS_GLIBC)
  if(UNITCFG_HAS_GLIBC)
    set(UNITCFG_LIBC glibc)
  else()
    set(UNITCFG_LIBC "unknown libc")
  endif()
endif()
if(UNITCFG_STATIC)
  set(UNITCFG_LINKAGE static)
else()
  set(UNITCFG_LINKAGE dynamic)
endif()
set(UNITCFG_BUILD_DESCRIPTION "${UNITCFG_TARGET}, ${UNITCFG_LIBC}, ${UNITCFG_LINKAGE}")
message(STATUS "unitcfg build: ${UNITCFG_BUILD_DESCRIPTION}")

# The package's mark: none for the dynamic glibc build, the libc for another libc, "static" for
# a static glibc build. Each build's package then has a name and file name of its own.
if(NOT UNITCFG_LIBC STREQUAL "glibc")
  string(REGEX REPLACE "[^a-z0-9]+" "-" UNITCFG_PACKAGE_MARK "${UNITCFG_LIBC}")
elseif(UNITCFG_STATIC)
  set(UNITCFG_PACKAGE_MARK static)
else()
  set(UNITCFG_PACKAGE_MARK "")
endif()
