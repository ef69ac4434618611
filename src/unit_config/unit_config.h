// The unit's configuration: installing a known unit's staged file, and keeping the installed
// configuration record right.
#pragma once

#include "../history/history.h"

/// Where the phases find the unit's files. Production uses `default_unit_config_paths` only;
/// tests point the phases at files of their own.
struct unit_config_paths {
    const char *identity_file;    ///< the 64-byte identity record, only read
    const char *staged_directory; ///< holds "<unit number>.CFG" for each staged unit
    const char *installed_file;   ///< the installed configuration record
    const char *history_file;     ///< the history log of the install phase
};

inline constexpr unit_config_paths default_unit_config_paths = {
    "/tmp/UNIT.CFG",
    "/tmp/Quarvane",
    "/usr/share/Quarvane/UNIT.CFG",
    default_history_path,
};

/// The install phase. When the identity file supplies a whole record naming a known unit, has
/// the shell copy that unit's staged file over the installed file, logging the copy's output
/// and a dated outcome entry in the history file. Ends silently when there is no whole
/// identity record or the unit is not known; a failed copy is logged and reported on standard
/// output by the command runner. Never examines the staged file's content.
void install_unit_config(const unit_config_paths &paths = default_unit_config_paths);
