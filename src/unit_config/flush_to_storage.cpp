#include "flush_to_storage.h"

#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "copy_command.h"

namespace {

void flush_one(const char *path) {
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return;
    (void)fsync(fd);
    (void)close(fd);
}

/// The directory that holds `path`: what comes before its last '/', "/" for a file in the
/// root, "." for a bare name. Returns false when the name does not fit `directory`.
bool containing_directory(const char *path, char (&directory)[max_copy_path_length + 1]) {
    const char *last_slash = std::strrchr(path, '/');
    if (last_slash == nullptr) {
        std::memcpy(directory, ".", 2);
        return true;
    }
    std::size_t length = last_slash == path ? 1 : static_cast<std::size_t>(last_slash - path);
    if (length > max_copy_path_length)
        return false;
    std::memcpy(directory, path, length);
    directory[length] = '\0';
    return true;
}

} // namespace

void flush_to_storage(const char *path) {
    flush_one(path);
    char directory[max_copy_path_length + 1];
    if (containing_directory(path, directory))
        flush_one(directory);
}
