#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include "config_record.h"
#include "copy_command.h"
#include "unit_config.h"
#include "unit_identity.h"

namespace {

void put(FILE *report, const char *text) {
    (void)fputs(text, report);
}

/// `value` in decimal, then `suffix` (at most 15 bytes), in one write.
void put_number(FILE *report, long value, const char *suffix) {
    char text[40];
    size_t at = 24;
    unsigned long magnitude =
        value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        text[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        text[--at] = '-';
    size_t end = 24;
    while (*suffix != '\0' && end < sizeof text - 1)
        text[end++] = *suffix++;
    text[end] = '\0';
    put(report, text + at);
}

/// The 16-bit `value` as 0x and four hexadecimal digits, then `suffix`.
void put_checksum(FILE *report, uint16_t value, const char *suffix) {
    char hex[] = "0x0000";
    for (size_t digit = 5; digit >= 2; --digit, value = static_cast<uint16_t>(value >> 4))
        hex[digit] = "0123456789ABCDEF"[value & 0xF];
    put(report, hex);
    put(report, suffix);
}

/// One line "NAME: VALUE" and `suffix`, which ends it.
void put_field(FILE *report, const char *name, long value, const char *suffix = "\n") {
    put(report, name);
    put(report, ": ");
    put_number(report, value, suffix);
}

/// "NAME: " and why `path` gave no whole record of `size` bytes: missing, short (its size),
/// or unreadable.
void put_why_unread(FILE *report, const char *name, const char *path, size_t size) {
    struct stat info {};
    put(report, name);
    if (stat(path, &info) != 0 && errno == ENOENT) {
        put(report, ": missing\n");
    } else if (S_ISREG(info.st_mode) && info.st_size < static_cast<off_t>(size)) {
        put(report, ": short, ");
        put_number(report, static_cast<long>(info.st_size), " bytes\n");
    } else {
        put(report, ": unreadable\n");
    }
}

/// Reads, read-only, the whole record at the start of `path` and the file's size.
bool read_record(const char *path, unit_config_record &record, long &size) {
    FILE *file = fopen(path, "rb");
    if (file == nullptr)
        return false;
    struct stat info {};
    bool whole =
        fread(record.bytes, sizeof record.bytes, 1, file) == 1 && fstat(fileno(file), &info) == 0;
    size = static_cast<long>(info.st_size);
    (void)fclose(file);
    return whole;
}

void put_record(FILE *report, const unit_config_record &record) {
    put_field(report, "tag", static_cast<long>(record_tag(record)));
    put_field(report, "adjusted_value", adjusted_value(record));
    put_field(report, "selector", selector(record));
    put_field(report, "option_byte", option_byte(record));
    put_field(report, "adjust_stamp", adjust_stamp(record));
    put(report, "checksum: ");
    put_checksum(report, stored_checksum(record),
                 compute_checksum(record) == stored_checksum(record) ? " (right)\n" : " (wrong)\n");
}

void put_change(FILE *report, const char *name, long before, long after) {
    if (before == after)
        return;
    put(report, "repair: ");
    put(report, name);
    put_number(report, before, " -> ");
    put_number(report, after, "\n");
}

/// Runs the repair on a copy of `record` and names each field it would change, old -> new.
/// Returns whether the repair would write.
bool put_repair(FILE *report, const unit_config_record &record) {
    unit_config_record repaired = record;
    if (!repair_record(repaired)) {
        put(report, "repair: none\n");
        return false;
    }
    put_change(report, "option_byte ", option_byte(record), option_byte(repaired));
    put_change(report, "adjusted_value ", adjusted_value(record), adjusted_value(repaired));
    put_change(report, "adjust_stamp ", adjust_stamp(record), adjust_stamp(repaired));
    if (stored_checksum(record) != stored_checksum(repaired)) {
        put(report, "repair: checksum ");
        put_checksum(report, stored_checksum(record), " -> ");
        put_checksum(report, stored_checksum(repaired), "\n");
    }
    return true;
}

/// The identity and staged lines. Returns whether a run would install: a known unit whose
/// staged file, whose path is left in `staged`, is there.
bool put_install(FILE *report, const unit_config_paths &paths,
                 char (&staged)[copy_command_capacity]) {
    uint16_t unit = 0;
    if (!read_unit_number(paths.identity_file, unit)) {
        put_why_unread(report, "identity", paths.identity_file, unit_identity_record_size);
        return false;
    }
    put_field(report, "identity", unit);
    bool known = is_known_unit(unit);
    put(report, known ? "known: yes\n" : "known: no\n");
    const char *const words[] = {paths.staged_directory};
    struct stat info {};
    if (!known || !fill_template(staged, "%s/%d.CFG", unit, words))
        return false;
    if (stat(staged, &info) != 0) {
        put(report, "staged: missing\n");
        return false;
    }
    put_field(report, "staged", static_cast<long>(info.st_size), " bytes\n");
    return true;
}

} // namespace

int check_unit_config(FILE *report, const unit_config_paths &paths) {
    char staged[copy_command_capacity];
    bool installs = put_install(report, paths, staged);

    unit_config_record installed{};
    long size = 0;
    bool readable = read_record(paths.installed_file, installed, size);
    if (readable) {
        put_field(report, "installed", size, " bytes\n");
        put_record(report, installed);
    } else {
        put_why_unread(report, "installed", paths.installed_file, unit_config_record_size);
    }

    put(report, installs ? "install: yes\n" : "install: no\n");
    // The repair works on what the install leaves: the staged record when one is installed.
    unit_config_record staged_record{};
    const unit_config_record *to_repair = readable ? &installed : nullptr;
    if (installs) {
        long staged_size = 0;
        to_repair = read_record(staged, staged_record, staged_size) ? &staged_record : nullptr;
    }
    bool repairs = false;
    if (to_repair != nullptr)
        repairs = put_repair(report, *to_repair);
    else
        put(report, "repair: none\n");
    (void)fflush(report);
    if (!readable)
        return 2;
    return installs || repairs ? 1 : 0;
}
