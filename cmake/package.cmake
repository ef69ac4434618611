# The Debian package of unitcfg and its manual page: cmake --build BUILD --target package.
# Its architecture is the one Debian names for the compiler's target, so an ARMv5TE build gives
# an armel package; its libc6 floor is read from the built program when the package is made.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME unitcfg)
set(CPACK_PACKAGE_CONTACT "unitcfg maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installs and repairs the unit's configuration file")
set(CPACK_PACKAGE_DESCRIPTION "\
Run once at boot, unitcfg installs the staged configuration file of a known
unit, logging the copy in the unit's history file, then checks the installed
configuration record and repairs it in place.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)

execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpmachine
                OUTPUT_VARIABLE unitcfg_target_triplet OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND dpkg-architecture -t ${unitcfg_target_triplet} -q DEB_HOST_ARCH
                OUTPUT_VARIABLE unitcfg_package_architecture OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET RESULT_VARIABLE unitcfg_architecture_found)
if(NOT unitcfg_architecture_found EQUAL 0 OR unitcfg_package_architecture STREQUAL "")
  message(FATAL_ERROR "dpkg-architecture (package dpkg-dev) cannot name the Debian architecture "
                      "of ${unitcfg_target_triplet}")
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${unitcfg_package_architecture})

# Read by cpack when it makes the package.
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake CONTENT "\
set(UNITCFG_PACKAGED_PROGRAM \"$<TARGET_FILE:unitcfg>\")
set(UNITCFG_READELF \"${CMAKE_READELF}\")
include(\"${CMAKE_CURRENT_LIST_DIR}/package_depends.cmake\")
")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

include(CPack)
