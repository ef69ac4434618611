// The unit's configuration: installing a known unit's staged file, and keeping the installed
// configuration record right.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "../history/entry_commands.h"

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

/// The copy: how long the run waits on it (for its output and its end; the entries of its
/// output have deadlines of their own). A staged file is at most 64 KiB, which a unit copies in
/// about a second even onto NOR flash: a copy still going after this is blocked, not slow.
inline constexpr int64_t copy_deadline_ms = 10000;

/// The install phase. When the identity file supplies a whole record naming a known unit, has
/// the shell copy that unit's staged file, logging the copy's output and a dated outcome entry
/// in the history file. The copy goes to a temporary file beside the installed one, which
/// replaces it by rename once it is whole and on storage, and only then is the success entry
/// appended: a copy that fails or dies part-way leaves the installed file as it was. Where the
/// installed file cannot be replaced (see `plan_replacement`) the copy goes over it, as `cp`
/// does, and is flushed before the entry. Ends silently when there is no whole identity record
/// or the unit is not known; a failed copy is logged and reported on standard output by the
/// command runner. Never examines the staged file's content.
void install_unit_config(const unit_config_paths &paths = default_unit_config_paths);

/// The repair phase. Reads the 44-byte record at the start of the installed file and, when its
/// tag is 89, fills in the default `option_byte`, applies the correction for selectors 1309 and
/// 1310, and recomputes the checksum. Only when something changed or the stored checksum was
/// wrong is the file replaced, the same way the install replaces it: a new file holding the
/// repaired record and every byte of the old file beyond it, renamed over the old one once it
/// is on storage; or, where the file cannot be replaced, the record written over the old one in
/// place, never truncated. Otherwise it is not written. Every failure (no file, a short record,
/// another tag, no write access) is silent and leaves the file as it was.
void repair_installed_config(const unit_config_paths &paths = default_unit_config_paths);

/// What a run would find and do, reported on `report` one item a line, "name: value", while
/// nothing is written and no process started; files are only opened for reading, and only
/// regular files, so that nothing blocks. Every line it can print, and every status it returns,
/// is in check_report.h: the identity, whether the unit is known, its staged file, the installed
/// file and its record's fields, whether a run would install, and what the repair would change
/// (of the staged record when a run would install it, else of the installed one).
int check_unit_config(FILE *report, const unit_config_paths &paths = default_unit_config_paths);
