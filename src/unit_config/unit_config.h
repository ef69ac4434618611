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
/// and a dated outcome entry in the history file. After a good copy the installed file and its
/// directory are flushed to storage before the success entry is appended. Ends silently when
/// there is no whole identity record or the unit is not known; a failed copy is logged and
/// reported on standard output by the command runner. Never examines the staged file's content.
void install_unit_config(const unit_config_paths &paths = default_unit_config_paths);

/// The repair phase. Reads the 44-byte record at the start of the installed file and, when its
/// tag is 89, fills in the default `option_byte`, applies the correction for selectors 1309 and
/// 1310, and recomputes the checksum. The file is rewritten in place only when something
/// changed or the stored checksum was wrong; otherwise it is not opened for writing. Every
/// failure (no file, a short record, another tag, no write access) is silent.
void repair_installed_config(const unit_config_paths &paths = default_unit_config_paths);
