#include "../storage/replacement.h"
#include "copy_command.h"
#include "unit_config.h"
#include "unit_identity.h"

void install_unit_config(const unit_config_paths &paths) {
    uint16_t unit_number = 0;
    int64_t identity_size = 0;
    if (read_unit_number(paths.identity_file, unit_number, identity_size) != file_start::whole ||
        !is_known_unit(unit_number))
        return;

    // Decided once, before the copy: `cp` writes a temporary file that replaces the installed
    // one only once it is whole and on storage, so a copy that dies part-way loses nothing.
    const file_replacement replacement = plan_replacement(paths.installed_file);
    char command[copy_command_capacity];
    if (!build_copy_command(unit_number, paths.staged_directory,
                            replacement_destination(replacement), command))
        return;
    bool installed = run_logged_command(command, paths.history_file) == 0;
    // The new configuration is in place and on storage before the history says so.
    if (installed)
        installed = commit_replacement(replacement);
    else
        abandon_replacement(replacement);
    append_outcome_entry(unit_number, installed, paths.history_file);
}
