#include "copy_command.h"

#include <cstdio>

#include "../history/plain_path.h"

bool build_copy_command(std::uint16_t unit_number, const char *staged_directory,
                        const char *installed_file, char (&command)[copy_command_capacity]) {
    command[0] = '\0';
    if (!is_plain_path(staged_directory, max_copy_path_length) ||
        !is_plain_path(installed_file, max_copy_path_length))
        return false;

    int written = std::snprintf(command, sizeof command, copy_command_template, staged_directory,
                                int{unit_number}, installed_file);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof command) {
        command[0] = '\0';
        return false;
    }
    return true;
}
