# Run by cmake --install (and by cpack): installs the init script and the systemd unit, each
# naming the program where this install puts it, ${CMAKE_INSTALL_PREFIX}/sbin/unitcfg. The
# templates unitcfg_boot_templates/unitcfg.init and unitcfg.service name /usr/sbin/unitcfg, a
# package's path, on one line each; each file is written in unitcfg_boot_files, then installed.

# The install's own prefix: cmake --install takes a relative one from its working directory,
# as file(INSTALL) does, and drops a last slash, so that the root is "". The files name the
# program plainly, unquoted: a prefix they could not name so is refused.
set(unitcfg_prefix "${CMAKE_INSTALL_PREFIX}")
if(NOT unitcfg_prefix STREQUAL "" AND NOT IS_ABSOLUTE "${unitcfg_prefix}")
  get_filename_component(unitcfg_prefix "${unitcfg_prefix}" ABSOLUTE)
endif()
string(REGEX REPLACE "/+$" "" unitcfg_prefix "${unitcfg_prefix}")
if(NOT unitcfg_prefix MATCHES "^[-A-Za-z0-9_.+/]*$")
  message(FATAL_ERROR "the boot files cannot name a program under the prefix "
                      "'${CMAKE_INSTALL_PREFIX}': give one of letters, digits and -_.+/, or "
                      "configure with -DUNITCFG_BOOT_FILES=OFF")
endif()

# Writes TEMPLATE with its line KEY/usr/sbin/unitcfg naming the installed program instead, and
# installs it as DESTINATION/NAME, a PROGRAM or a FILE (TYPE). Fails when there is no such line.
function(unitcfg_install_boot_file template key destination name type)
  file(READ "${unitcfg_boot_templates}/${template}" text)
  set(line "\n${key}/usr/sbin/unitcfg\n")
  string(FIND "${text}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "boot/${template} has no line ${key}/usr/sbin/unitcfg")
  endif()
  string(REPLACE "${line}" "\n${key}${unitcfg_prefix}/sbin/unitcfg\n" text "${text}")
  # A name of this install's own: installs of one build may run at once (a test's, cpack's).
  string(RANDOM LENGTH 16 unique)
  set(written "${unitcfg_boot_files}/${name}.${unique}")
  file(WRITE "${written}" "${text}")
  # As install(FILES) with an absolute destination does, for cpack.
  list(APPEND CMAKE_ABSOLUTE_DESTINATION_FILES "${destination}/${name}")
  set(CMAKE_ABSOLUTE_DESTINATION_FILES "${CMAKE_ABSOLUTE_DESTINATION_FILES}" PARENT_SCOPE)
  if(CMAKE_ERROR_ON_ABSOLUTE_INSTALL_DESTINATION)
    message(FATAL_ERROR "absolute install destination ${destination} forbidden")
  endif()
  file(INSTALL DESTINATION "${destination}" TYPE ${type} RENAME "${name}" FILES "${written}")
  file(REMOVE "${written}")
endfunction()

unitcfg_install_boot_file(unitcfg.init "program=" /etc/init.d unitcfg PROGRAM)
unitcfg_install_boot_file(unitcfg.service "ExecStart=" /lib/systemd/system unitcfg.service FILE)
