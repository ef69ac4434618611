#include "copy_command.h"

#include "../history/fill_template.h"
#include "../history/plain_path.h"

bool build_copy_command(uint16_t unit_number, const char *staged_directory,
                        const char *installed_file, char (&command)[copy_command_capacity]) {
    command[0] = '\0';
    if (!is_plain_path(staged_directory, max_copy_path_length) ||
        !is_plain_path(installed_file, max_copy_path_length))
        return false;

    const char *const paths[] = {staged_directory, installed_file};
    return fill_template(command, copy_command_template, unit_number, paths);
}
