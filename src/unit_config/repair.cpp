#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "../storage/regular_file.h"
#include "../storage/replacement.h"
#include "config_record.h"
#include "unit_config.h"

namespace {

bool write_all(int fd, const void *bytes, size_t count) {
    const char *next = static_cast<const char *>(bytes);
    while (count > 0) {
        ssize_t written = write(fd, next, count);
        if (written <= 0)
            return false;
        next += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

/// Writes a new file at `path`: `record`, then every byte of `rest` from where it stands,
/// unchanged. Returns false when the file cannot be made or any read or write fails.
bool write_new_file(const char *path, const unit_config_record &record, int rest) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = write_all(fd, record.bytes, sizeof record.bytes);
    char buffer[512];
    ssize_t length = 0;
    while (ok && (length = read_up_to(rest, buffer, sizeof buffer)) > 0)
        ok = write_all(fd, buffer, static_cast<size_t>(length));
    ok = ok && length == 0;
    return close(fd) == 0 && ok;
}

/// Overwrites the record at the start of `installed_file` in place, where the file cannot be
/// replaced. Opened for update, never truncated; bytes beyond the record are kept. Silent when
/// the file cannot be opened for writing.
void rewrite_record_in_place(const char *installed_file, const unit_config_record &record) {
    FILE *file = fopen(installed_file, "r+b");
    if (file == nullptr)
        return;
    if (fwrite(record.bytes, sizeof record.bytes, 1, file) == 1 && fflush(file) == 0)
        (void)fsync(fileno(file));
    (void)fclose(file);
}

} // namespace

void repair_installed_config(const unit_config_paths &paths) {
    // Only a regular file is read: a FIFO there would hold the run.
    int fd = open_regular_file(paths.installed_file);
    if (fd < 0)
        return;

    unit_config_record record;
    if (read_up_to(fd, record.bytes, sizeof record.bytes) ==
            static_cast<ssize_t>(sizeof record.bytes) &&
        repair_record(record)) {
        // The read handle stays open until the rewrite is done: the new file takes the rest of
        // the old one from it.
        const file_replacement replacement = plan_replacement(paths.installed_file);
        switch (replacement.method) {
        case replacement_method::by_rename:
            if (write_new_file(replacement.temporary_file, record, fd))
                (void)commit_replacement(replacement);
            else
                abandon_replacement(replacement);
            break;
        case replacement_method::in_place:
            rewrite_record_in_place(paths.installed_file, record);
            break;
        case replacement_method::refused: // a link others may re-point: nothing is written
            break;
        }
    }
    (void)close(fd);
}
