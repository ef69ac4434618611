// Fuzz target: any 0-64 bytes as the installed configuration file, through the repair phase.
// Properties: the file keeps its size; a short record or another tag is neither changed nor
// written; otherwise the checksum is right, unnamed bytes and bytes past the record are kept,
// option_byte is never 0, the correction table holds, and a second repair writes nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "unit_config/unit_config.h"

namespace {

constexpr long old_mtime = 1000000000;

void require(bool holds, const char *property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

std::string fuzz_directory;

void remove_fuzz_directory() {
    std::remove((fuzz_directory + "/UNIT.CFG").c_str());
    rmdir(fuzz_directory.c_str());
}

/// The installed file, in a private directory removed at exit. On tmpfs when there is one: the
/// rewrite fsyncs, and on a disk that is slow.
const std::string &installed_path() {
    static const std::string path = [] {
        char in_memory[] = "/dev/shm/unitcfg-fuzz-XXXXXX";
        char on_disk[] = "/tmp/unitcfg-fuzz-XXXXXX";
        const char *directory = mkdtemp(in_memory);
        if (directory == nullptr)
            directory = mkdtemp(on_disk);
        require(directory != nullptr, "mkdtemp");
        fuzz_directory = directory;
        std::atexit(remove_fuzz_directory);
        return fuzz_directory + "/UNIT.CFG";
    }();
    return path;
}

void write_installed(const std::string &bytes) {
    std::FILE *file = std::fopen(installed_path().c_str(), "wb");
    require(file != nullptr, "open for the test");
    require(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), "write");
    std::fclose(file);
    struct timespec times[2] = {{old_mtime, 0}, {old_mtime, 0}};
    require(utimensat(AT_FDCWD, installed_path().c_str(), times, 0) == 0, "utimensat");
}

/// Runs the repair phase; returns the file's bytes after it and whether it was written.
std::string repair(bool &written) {
    unit_config_paths paths = default_unit_config_paths;
    paths.installed_file = installed_path().c_str();
    repair_installed_config(paths);
    struct stat info {};
    require(stat(paths.installed_file, &info) == 0, "stat");
    written = info.st_mtim.tv_sec != old_mtime;
    std::string bytes(128, '\0');
    std::FILE *file = std::fopen(paths.installed_file, "rb");
    require(file != nullptr, "reopen");
    bytes.resize(std::fread(&bytes[0], 1, bytes.size(), file));
    std::fclose(file);
    return bytes;
}

unsigned le16(const std::string &bytes, std::size_t offset) {
    return static_cast<unsigned char>(bytes[offset]) | static_cast<unsigned char>(bytes[offset + 1])
                                                           << 8;
}

int signed16(unsigned value) {
    return value < 0x8000 ? static_cast<int>(value) : static_cast<int>(value) - 0x10000;
}

bool is_unnamed(std::size_t offset) {
    return offset == 4 || offset == 5 || (offset >= 8 && offset < 36) || offset == 39 ||
           offset >= 44;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size > 64)
        return -1;
    const std::string input(reinterpret_cast<const char *>(data), size);
    write_installed(input);
    bool written = false;
    const std::string output = repair(written);
    require(output.size() == input.size(), "the file keeps its size");

    if (size < 44 || le16(input, 0) != 89 || le16(input, 2) != 0) {
        require(output == input, "a short record or another tag is left unchanged");
        require(!written, "a short record or another tag is not written");
        return 0;
    }

    unsigned folded = 0;
    for (std::size_t offset = 0; offset < 44; offset += 2)
        folded ^= le16(output, offset);
    require(folded == 0, "the checksum is right");
    for (std::size_t offset = 0; offset < size; ++offset) {
        if (is_unnamed(offset) || offset < 4 || offset == 36 || offset == 37)
            require(output[offset] == input[offset], "unnamed bytes, tag and selector kept");
    }
    require(output[38] != 0, "option_byte is never 0");
    require(input[38] == 0 || output[38] == input[38], "a set option_byte is kept");

    const unsigned code = le16(input, 36);
    const bool corrected = (code == 1309 || code == 1310) && signed16(le16(input, 6)) >= -1899;
    if (corrected) {
        require(signed16(le16(output, 6)) == (code == 1309 ? -2026 : -2036), "corrected value");
        require(le16(output, 40) == 21017, "adjust_stamp with a correction");
    } else {
        require(output.compare(6, 2, input, 6, 2) == 0, "uncorrected value kept");
        require(output.compare(40, 2, input, 40, 2) == 0, "adjust_stamp kept");
    }
    require(written == (output != input), "written exactly when something changed");

    write_installed(output);
    bool rewritten = false;
    require(repair(rewritten) == output && !rewritten, "a repaired record needs no repair");
    return 0;
}
