#include <stdlib.h>

#include "entry_commands.h"
#include "history.h"

void append_outcome_entry(uint16_t unit_number, bool succeeded, const char *history_path) {
    char command[outcome_entry_command_capacity];
    if (build_outcome_entry_command(unit_number, succeeded, history_path, command))
        (void)system(command);
}
