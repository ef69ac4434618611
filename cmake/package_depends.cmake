# Run by cpack as the package is made. The package depends on a libc6 that provides the highest
# GLIBC_ symbol version the program imports. A program that imports none, a static build,
# depends on nothing.
execute_process(COMMAND ${UNITCFG_READELF} --dyn-syms -W ${UNITCFG_PACKAGED_PROGRAM}
                OUTPUT_VARIABLE unitcfg_symbols RESULT_VARIABLE unitcfg_readelf_result)
if(NOT unitcfg_readelf_result EQUAL 0)
  message(FATAL_ERROR "cannot read the symbols of ${UNITCFG_PACKAGED_PROGRAM}")
endif()

string(REPLACE "\n" ";" unitcfg_symbols "${unitcfg_symbols}")
set(unitcfg_glibc_floor "")
foreach(line IN LISTS unitcfg_symbols)
  if(line MATCHES " UND .*@GLIBC_([0-9.]+)")
    if(unitcfg_glibc_floor STREQUAL "" OR CMAKE_MATCH_1 VERSION_GREATER unitcfg_glibc_floor)
      set(unitcfg_glibc_floor ${CMAKE_MATCH_1})
    endif()
  endif()
endforeach()

if(unitcfg_glibc_floor)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${unitcfg_glibc_floor})")
else()
  unset(CPACK_DEBIAN_PACKAGE_DEPENDS)
endif()

if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${UNITCFG_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE unitcfg_commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE unitcfg_git_result ERROR_QUIET)
  if(unitcfg_git_result EQUAL 0 AND unitcfg_commit_time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${unitcfg_commit_time})
  endif()
endif()
