#include <cstdio>
#include <unistd.h>

#include "config_record.h"
#include "unit_config.h"

namespace {

/// Overwrites the record at the start of `installed_file` in place. The file is opened for
/// update, never truncated, so a kill or a power cut leaves the old record or the new one,
/// never an empty file; bytes beyond the record are kept. Silent when the file cannot be
/// opened for writing.
void rewrite_record(const char *installed_file, const unit_config_record &record) {
    std::FILE *file = std::fopen(installed_file, "r+b");
    if (file == nullptr)
        return;
    if (std::fwrite(record.bytes, sizeof record.bytes, 1, file) == 1 && std::fflush(file) == 0)
        (void)fsync(fileno(file));
    (void)std::fclose(file);
}

} // namespace

void repair_installed_config(const unit_config_paths &paths) {
    std::FILE *file = std::fopen(paths.installed_file, "rb");
    if (file == nullptr)
        return;

    unit_config_record record;
    if (std::fread(record.bytes, sizeof record.bytes, 1, file) == 1 && repair_record(record)) {
        // The read handle stays open until the rewrite is done.
        rewrite_record(paths.installed_file, record);
    }
    (void)std::fclose(file);
}
