#include <stdio.h>

#include "../storage/replacement.h"
#include "config_record.h"
#include "install.h"
#include "unit_config.h"
#include "unit_identity.h"

namespace {

void put(FILE *report, const char *text) {
    (void)fputs(text, report);
}

/// `value` / 10, as a multiplication by the reciprocal (0xCCCCCCCD / 2^35, exact for every
/// 32-bit value). Built for size, the compiler would call libgcc's division for `/` and `%`
/// here: the unit has no divide instruction, and its binary need not carry one.
uint32_t tenth(uint32_t value) {
    return static_cast<uint32_t>((uint64_t{value} * uint64_t{0xCCCCCCCD}) >> 35);
}

/// Divides `value` by 10 in place and returns the remainder, in 32-bit steps: a 64-bit
/// division would bring the C runtime's long division into the unit's binary.
unsigned divide_by_ten(uint64_t &value) {
    uint64_t quotient = 0;
    uint32_t remainder = 0;
    for (int shift = 48; shift >= 0; shift -= 16) {
        uint32_t part = remainder << 16 | static_cast<uint32_t>(value >> shift & 0xFFFF);
        uint32_t part_quotient = tenth(part);
        quotient |= static_cast<uint64_t>(part_quotient) << shift;
        remainder = part - part_quotient * 10;
    }
    value = quotient;
    return remainder;
}

/// `value` in decimal, then `suffix` (at most 15 bytes), in one write. 64 bits on every build:
/// a tag of 0xFFFFFFFF or a size past 2 GiB prints the same on the unit as on a host.
void put_number(FILE *report, int64_t value, const char *suffix) {
    char text[40];
    size_t at = 24;
    uint64_t magnitude =
        value < 0 ? 0ULL - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        text[--at] = static_cast<char>('0' + divide_by_ten(magnitude));
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
void put_field(FILE *report, const char *name, int64_t value, const char *suffix = "\n") {
    put(report, name);
    put(report, ": ");
    put_number(report, value, suffix);
}

/// "NAME: " and why a file gave no whole record: missing, not a regular file, not trusted (and
/// why), short (its size), or unreadable.
void put_why_unread(FILE *report, const char *name, file_start read, int64_t size,
                    trust why = trust::trusted) {
    put(report, name);
    switch (read) {
    case file_start::missing:
        put(report, ": missing\n");
        break;
    case file_start::not_regular:
        put(report, ": not a regular file\n");
        break;
    case file_start::not_trusted:
        put(report, ": not trusted, ");
        put(report, trust_reason_line(why));
        break;
    case file_start::short_file:
        put(report, ": short, ");
        put_number(report, size, " bytes\n");
        break;
    default:
        put(report, ": unreadable\n");
        break;
    }
}

/// Reads the record at the start of `path` and the file's size; never blocks (see
/// `read_file_start`).
file_start read_record(const char *path, unit_config_record &record, int64_t &size) {
    return read_file_start(path, record.bytes, sizeof record.bytes, size);
}

void put_record(FILE *report, const unit_config_record &record) {
    put_field(report, "tag", record_tag(record));
    put_field(report, "adjusted_value", adjusted_value(record));
    put_field(report, "selector", selector(record));
    put_field(report, "option_byte", option_byte(record));
    put_field(report, "adjust_stamp", adjust_stamp(record));
    put(report, "checksum: ");
    put_checksum(report, stored_checksum(record),
                 compute_checksum(record) == stored_checksum(record) ? " (right)\n" : " (wrong)\n");
}

void put_change(FILE *report, const char *name, int64_t before, int64_t after) {
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

/// The identity, known and staged lines. Returns whether a run would install: a known unit
/// whose staged file the run trusts (`check_staged_file`). Its record, when whole, is left in
/// `staged_record` and `staged_whole` set. A staged FIFO, directory or device is not opened.
bool put_install(FILE *report, const unit_config_paths &paths, unit_config_record &staged_record,
                 bool &staged_whole) {
    uint16_t unit = 0;
    int64_t size = 0;
    trust why = trust::trusted;
    file_start identity = read_unit_number(paths.identity_file, unit, size, why);
    if (identity != file_start::whole) {
        put_why_unread(report, "identity", identity, size, why);
        put(report, "known: no\n");
        return false;
    }
    put_field(report, "identity", unit);
    bool known = is_known_unit(unit);
    put(report, known ? "known: yes\n" : "known: no\n");
    if (!known)
        return false;
    char staged[staged_path_capacity];
    why = check_staged_file(paths.staged_directory, unit, staged, size);
    file_start read = refused_file_start(why);
    if (why == trust::trusted)
        read = read_trusted_file_start(staged, staged_record.bytes, sizeof staged_record.bytes,
                                       size, why);
    staged_whole = read == file_start::whole;
    if (read != file_start::whole && read != file_start::short_file) {
        put_why_unread(report, "staged", read, size, why);
        return false;
    }
    put_field(report, "staged", size, " bytes\n");
    return true;
}

/// The installed line and, for a whole record, its fields. Returns whether there is one, left
/// in `installed`; `can_write` says whether a run could write the installed file now. A link
/// others may re-point is not followed here either.
bool put_installed(FILE *report, const char *installed_file, unit_config_record &installed,
                   bool &can_write) {
    int64_t size = 0;
    char missing_target[PATH_MAX];
    trust writable = check_installed_path(installed_file, missing_target);
    file_start read = refused_file_start(writable);
    if (writable == trust::trusted)
        read = read_record(installed_file, installed, size);
    can_write = writable == trust::trusted && installed_file_writable(installed_file);
    if (read != file_start::whole) {
        put_why_unread(report, "installed", read, size, writable);
        return false;
    }
    put_field(report, "installed", size, " bytes\n");
    put_record(report, installed);
    return true;
}

} // namespace

int check_unit_config(FILE *report, const unit_config_paths &paths) {
    unit_config_record staged_record{};
    bool staged_whole = false;
    bool installs = put_install(report, paths, staged_record, staged_whole);
    unit_config_record installed{};
    bool can_write = false;
    bool readable = put_installed(report, paths.installed_file, installed, can_write);
    // Where nothing can be written now (a read-only mount), a run installs and repairs nothing.
    installs = installs && can_write;

    put(report, installs ? "install: yes\n" : "install: no\n");
    // The repair works on what the install leaves: the staged record when one is installed.
    const unit_config_record *to_repair = readable ? &installed : nullptr;
    if (installs)
        to_repair = staged_whole ? &staged_record : nullptr;
    bool repairs = false;
    if (to_repair != nullptr)
        repairs = put_repair(report, *to_repair);
    else
        put(report, "repair: none\n");
    if (repairs && !can_write)
        put(report, "repair: cannot be written\n");
    // A report that did not reach its reader says nothing of what a run would do.
    if (fflush(report) != 0 || ferror(report) != 0)
        return report_lost_status;
    // What a run would change comes first; then a record a run cannot keep right: none, or one
    // whose repair cannot be written.
    if (installs || (repairs && can_write))
        return 1;
    return readable && !repairs ? 0 : 2;
}
