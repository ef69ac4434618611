#include "entry_commands.h"
#include "history.h"

void append_outcome_entry(uint16_t unit_number, bool succeeded, const history_log &log) {
    char command[outcome_entry_command_capacity];
    if (log.appends && build_outcome_entry_command(unit_number, succeeded, log.path, command))
        (void)run_shell(command, log.writer, log.entry_timeout_ms);
}
