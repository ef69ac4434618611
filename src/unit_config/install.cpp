#include "copy_command.h"
#include "flush_to_storage.h"
#include "unit_config.h"
#include "unit_identity.h"

void install_unit_config(const unit_config_paths &paths) {
    std::uint16_t unit_number = 0;
    if (!read_unit_number(paths.identity_file, unit_number) || !is_known_unit(unit_number))
        return;

    char command[copy_command_capacity];
    if (!build_copy_command(unit_number, paths.staged_directory, paths.installed_file, command))
        return;
    bool copied = run_logged_command(command, paths.history_file) == 0;
    // What `cp` wrote may still sit in the page cache: it reaches storage before the history
    // says it was installed.
    if (copied)
        flush_to_storage(paths.installed_file);
    append_outcome_entry(unit_number, copied, paths.history_file);
}
