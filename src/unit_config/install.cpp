#include <sys/stat.h>

#include "../storage/replacement.h"
#include "copy_command.h"
#include "staged_file.h"
#include "unit_config.h"
#include "unit_identity.h"

void install_unit_config(const unit_config_paths &paths) {
    uint16_t unit_number = 0;
    int64_t identity_size = 0;
    trust identity_trust = trust::trusted;
    if (read_unit_number(paths.identity_file, unit_number, identity_size, identity_trust) !=
            file_start::whole ||
        !is_known_unit(unit_number))
        return;

    // What the copy and the history's pipelines make is data, readable by all and written by
    // its owner alone, whatever umask the run was started with.
    (void)umask(022);
    // Decided once, before the copy: `cp` writes a temporary file that replaces the installed
    // one only once it is whole and on storage, so a copy that dies part-way loses nothing.
    const file_replacement replacement = plan_replacement(paths.installed_file);
    char command[copy_command_capacity];
    if (!build_copy_command(unit_number, paths.staged_directory,
                            replacement_destination(replacement), command))
        return;
    const history_log log = open_history_log(paths.history_file);
    char staged[staged_path_capacity];
    int64_t staged_size = 0;
    bool installed = false;
    // A staged file others could have put there or changed, or an installed path that may not
    // be written, is refused before anything runs, the way a missing staged file fails.
    if (check_staged_file(paths.staged_directory, unit_number, staged, staged_size) !=
            trust::trusted ||
        !begin_replacement(replacement)) {
        report_command_failure();
    } else if (run_logged_command(command, log) == 0) {
        // The new configuration is in place and on storage before the history says so.
        installed = commit_replacement(replacement);
    } else {
        abandon_replacement(replacement);
    }
    append_outcome_entry(unit_number, installed, log);
}
