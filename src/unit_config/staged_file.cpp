#include "staged_file.h"

trust check_staged_file(const char *staged_directory, uint16_t unit_number,
                        char (&path)[staged_path_capacity], int64_t &size) {
    const char *const words[] = {staged_directory};
    if (!fill_template(path, "%s/%d.CFG", unit_number, words))
        return trust::unreadable;
    trust directory = check_trusted_directory(staged_directory);
    if (directory != trust::trusted)
        return directory;
    return check_trusted_file(path, size);
}
