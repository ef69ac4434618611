# The Debian package of unitcfg and its manual page: cmake --build BUILD --target package.
# Its architecture is the one Debian names for the compiler's target, so an ARMv5TE build gives
# an armel package; its libc6 floor is read from the built program when the package is made.
# Each build's package has a name of its own (see build_identity.cmake), so one archive can
# carry them all: unitcfg, unitcfg-static, unitcfg-musl. They all provide unitcfg and install
# the same files, so one replaces another.
set(UNITCFG_PACKAGE_CONTACT "unitcfg maintainers <maintainers@unitcfg.invalid>" CACHE STRING
    "The package's Maintainer field: a name and an address")

if(UNITCFG_PACKAGE_MARK)
  set(CPACK_PACKAGE_NAME unitcfg-${UNITCFG_PACKAGE_MARK})
  set(CPACK_DEBIAN_PACKAGE_PROVIDES unitcfg)
else()
  set(CPACK_PACKAGE_NAME unitcfg)
endif()
# Each flavour replaces every other, as they replace it: one at a time, whichever came last.
set(unitcfg_other_flavours unitcfg unitcfg-static unitcfg-musl)
list(REMOVE_ITEM unitcfg_other_flavours ${CPACK_PACKAGE_NAME})
string(JOIN ", " unitcfg_other_flavours ${unitcfg_other_flavours})
set(CPACK_DEBIAN_PACKAGE_CONFLICTS "${unitcfg_other_flavours}")
set(CPACK_DEBIAN_PACKAGE_REPLACES "${unitcfg_other_flavours}")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT "${UNITCFG_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installs and repairs the unit's configuration file")
set(CPACK_PACKAGE_DESCRIPTION "\
Run once at boot, unitcfg installs the staged configuration file of a known
unit, logging the copy in the unit's history file, then checks the installed
configuration record and repairs it.
This build: ${UNITCFG_BUILD_DESCRIPTION}.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)

execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpmachine
                OUTPUT_VARIABLE unitcfg_target_triplet OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND dpkg-architecture -t ${unitcfg_target_triplet} -q DEB_HOST_ARCH
                OUTPUT_VARIABLE unitcfg_package_architecture OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET RESULT_VARIABLE unitcfg_architecture_found)
# A build host without dpkg-dev (Buildroot and Yocto run on any distribution) builds and
# installs everything but the package.
if(unitcfg_architecture_found EQUAL 0 AND NOT unitcfg_package_architecture STREQUAL "")
  set(UNITCFG_PACKAGE ON)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${unitcfg_package_architecture})
  message(STATUS "unitcfg: the package target makes ${CPACK_PACKAGE_NAME} for "
                 "${unitcfg_package_architecture}")
else()
  set(UNITCFG_PACKAGE OFF)
  message(STATUS "unitcfg: no Debian package target: dpkg-architecture (package dpkg-dev) "
                 "cannot name the Debian architecture of ${unitcfg_target_triplet}")
endif()

# The manual page and the changelog, compressed as Debian wants them: gzip -9n keeps no name or
# time, so the same sources give the same bytes.
set(unitcfg_man_page ${PROJECT_BINARY_DIR}/unitcfg.8.gz)
set(unitcfg_changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${unitcfg_man_page}
                   COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/doc/unitcfg.8 > ${unitcfg_man_page}
                   DEPENDS ${PROJECT_SOURCE_DIR}/doc/unitcfg.8 VERBATIM)
add_custom_command(OUTPUT ${unitcfg_changelog}
                   COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/doc/changelog > ${unitcfg_changelog}
                   DEPENDS ${PROJECT_SOURCE_DIR}/doc/changelog VERBATIM)
add_custom_target(unitcfg_documents ALL DEPENDS ${unitcfg_man_page} ${unitcfg_changelog})
install(FILES ${unitcfg_man_page} DESTINATION share/man/man8)
install(FILES ${unitcfg_changelog} DESTINATION share/doc/${CPACK_PACKAGE_NAME})
if(UNITCFG_STATIC)
  # Static on purpose: it runs whatever libc the unit has, or none.
  file(WRITE ${PROJECT_BINARY_DIR}/lintian-overrides
       "${CPACK_PACKAGE_NAME}: statically-linked-binary [usr/sbin/unitcfg]\n")
  install(FILES ${PROJECT_BINARY_DIR}/lintian-overrides DESTINATION share/lintian/overrides
          RENAME ${CPACK_PACKAGE_NAME})
endif()

# The directory of the installed file, root's and 0755 as the run requires. Its path is the
# program's own, compiled in: it does not follow the prefix, so every install makes it there,
# a hand install as much as a package, where the boot files go too.
set(unitcfg_installed_directory ${PROJECT_BINARY_DIR}/installed_directory/Quarvane)
file(MAKE_DIRECTORY ${unitcfg_installed_directory})
install(DIRECTORY ${unitcfg_installed_directory} DESTINATION /usr/share
        DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                              WORLD_READ WORLD_EXECUTE)

# The boot job: the init script (a conffile) for SysV and BusyBox-style inits and the systemd
# unit, enabled by the maintainer scripts. Images that bring their own leave them out.
# Each names the program where this install puts it: the templates in boot/ name
# /usr/sbin/unitcfg, which is replaced as the files are installed with the prefix of that
# install, whether given at configure time or to cmake --install --prefix (a package's is /usr).
option(UNITCFG_BOOT_FILES "Install the init script and the systemd unit" ON)
if(UNITCFG_BOOT_FILES)
  install(CODE "set(unitcfg_boot_templates \"${PROJECT_SOURCE_DIR}/boot\")
set(unitcfg_boot_files \"${PROJECT_BINARY_DIR}/boot\")")
  install(SCRIPT ${PROJECT_SOURCE_DIR}/boot/install_boot_files.cmake)
  file(WRITE ${PROJECT_BINARY_DIR}/conffiles "/etc/init.d/unitcfg\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/conffiles
      ${PROJECT_SOURCE_DIR}/boot/postinst ${PROJECT_SOURCE_DIR}/boot/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

# Read by cpack as it makes the package. Without SOURCE_DATE_EPOCH, the package's times are the
# last commit's, so that two builds of one commit give the same package bit for bit.
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake CONTENT "\
set(UNITCFG_PACKAGED_PROGRAM \"$<TARGET_FILE:unitcfg>\")
set(UNITCFG_READELF \"${CMAKE_READELF}\")
set(UNITCFG_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
include(\"${CMAKE_CURRENT_LIST_DIR}/package_depends.cmake\")
")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

if(UNITCFG_PACKAGE)
  include(CPack)
endif()
