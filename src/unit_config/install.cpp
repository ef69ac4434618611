#include "install.h"

#include <sys/stat.h>

#include "../history/history.h"
#include "../storage/replacement.h"
#include "unit_config.h"
#include "unit_identity.h"

staged_file judge_staged_file(const char *staged_directory, uint16_t unit_number) {
    staged_file staged;
    staged.verdict = trust::unreadable;
    staged.size = 0;
    const char *const words[] = {staged_directory};
    if (!fill_template(staged.path, staged_file_template, unit_number, words))
        return staged;
    staged.verdict = check_trusted_directory(staged_directory);
    if (staged.verdict == trust::trusted)
        staged.verdict = check_trusted_file(staged.path, staged.size, true);
    return staged;
}

bool build_copy_command(const staged_file &staged, const char *destination,
                        char (&command)[copy_command_capacity]) {
    command[0] = '\0';
    if (!is_plain_path(staged.path, staged_path_capacity - 1) ||
        !is_plain_path(destination, max_copy_path_length))
        return false;

    const char *const paths[] = {staged.path, destination};
    return fill_template(command, copy_command_template, 0, paths);
}

void install_unit_config(const unit_config_paths &paths) {
    uint16_t unit_number = 0;
    int64_t identity_size = 0;
    trust identity_trust = trust::trusted;
    if (read_unit_number(paths.identity_file, unit_number, identity_size, identity_trust) !=
            read_outcome::whole ||
        !is_known_unit(unit_number))
        return;

    // What the copy and the history's pipelines make is data, readable by all and written by
    // its owner alone, whatever umask the run was started with.
    (void)umask(022);
    // Decided once, before the copy: `cp` writes a temporary file that replaces the installed
    // one only once it is whole and on storage, so a copy that dies part-way loses nothing.
    const file_replacement replacement = plan_replacement(paths.installed_file);
    const staged_file staged = judge_staged_file(paths.staged_directory, unit_number);
    char command[copy_command_capacity];
    if (!build_copy_command(staged, replacement_destination(replacement), command))
        return;
    const history_log log = open_history_log(paths.history_file);
    bool installed = false;
    // A staged file others could have put there or changed, or an installed path that may not
    // be written, is refused before anything runs, the way a missing staged file fails.
    if (staged.verdict != trust::trusted || !begin_replacement(replacement)) {
        report_command_failure();
    } else if (run_logged_command(command, log, copy_deadline_ms) == 0) {
        // The new configuration is in place and on storage before the history says so.
        installed = commit_replacement(replacement);
    } else {
        abandon_replacement(replacement);
    }
    append_outcome_entry(unit_number, installed, log);
}
