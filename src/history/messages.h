// What a run tells its reader: the lines it prints on standard output and the texts of the
// outcome entries it appends to the history, each written once, here, with every cause that
// makes it and what to do. The command runner prints these texts, the entry pipelines are built
// from them, and the manual's DIAGNOSTICS says the same.
#pragma once

/// One text a run prints or appends, every cause that makes it, and what to do about it.
struct run_message {
    const char *text;
    const char *causes;
    const char *what_to_do;
};

// Printed on standard output, one line each, by the install's copy.
inline constexpr run_message pipe_error_message = {
    "Error opening pipe!",
    "the copy's output pipe or its process could not be made: the run's descriptors, the "
    "system's processes or its memory ran out",
    "find what exhausts descriptors, processes or memory at boot, then run unitcfg again; the "
    "failure entry follows in the history"};
inline constexpr run_message command_failure_message = {
    "Command not found or exited with error status",
    "no copy was started: the staged file or its directory is missing or not one the run "
    "trusts (not a regular file, a link, another user's, open to others, many links, over "
    "64 KiB), or the installed path may not be written (a way others may change, a directory, "
    "a FIFO or a device there, a link's missing file that could not be made); or the copy "
    "ended badly: /bin/sh or cp missing, cp exited non-zero (an unreadable file, no space, a "
    "read-only file system), a signal ended it, or it was still going after 10 seconds",
    "run unitcfg --check, which names what is wrong with the staged and the installed file; "
    "stage the unit's file as root's, writable by root alone, with one link; give the run "
    "/bin/sh and cp and room on the installed file's file system; then run unitcfg again"};

// Appended to the history by the install, after the line `date` prints; "%d" is the unit.
inline constexpr run_message success_entry = {
    " - UNIT_CFG of %d updated successfully.",
    "the copy exited 0 and the new installed file is in place and on storage", "nothing"};
inline constexpr run_message failure_entry = {
    " - UNIT_CFG of %d updated failed. Might not found the file.",
    "every cause of the two lines above, one of which was printed before it; or, with neither "
    "printed, a copy that ended well but could not be put in place (its owner or mode not "
    "taken, its flush or its rename failed): the installed file is as it was",
    "as for the line printed before it; with none, look at the installed file's storage (room, "
    "errors), then run unitcfg again"};

/// Every text, in the order a run can print or append them.
inline constexpr const run_message *run_messages[] = {
    &pipe_error_message,
    &command_failure_message,
    &success_entry,
    &failure_entry,
};
