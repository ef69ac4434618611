#include <stdio.h>
#include <string.h>

#include "../storage/regular_file.h"
#include "../storage/replacement.h"
#include "../system/decimal.h"
#include "check_report.h"
#include "config_record.h"
#include "install.h"
#include "unit_config.h"
#include "unit_identity.h"

namespace {

/// The longest a report line can be: each "%s" a number, a reason, a name or a checksum, none
/// longer than a number.
constexpr size_t longest_line() {
    size_t longest = 0;
    for (const check_line *line : check_lines) {
        size_t capacity = filled_capacity(line->text, max_decimal_length, 0);
        longest = capacity > longest ? capacity : longest;
    }
    return longest;
}

/// Prints one report line, `text` with its "%s" filled in from `words` in turn, and a line end.
void put_filled_line(FILE *report, const char *text, const char *const *words, size_t word_count) {
    char line[longest_line() + 1];
    if (!fill_template(line, sizeof line - 1, text, 0, words, word_count))
        return;
    // The line end is put in the line itself: a "\n" of its own would be made a `fputc`, which
    // brings the C library's locking character output into the unit's binary.
    size_t end = strlen(line);
    line[end] = '\n';
    line[end + 1] = '\0';
    (void)fputs(line, report);
}

template <size_t count>
void put_line(FILE *report, const char *text, const char *const (&words)[count]) {
    put_filled_line(report, text, words, count);
}

/// A line with nothing to fill in.
void put_line(FILE *report, const char *text) {
    put_filled_line(report, text, nullptr, 0);
}

/// The line of a number: `text` with the number in decimal.
void put_number_line(FILE *report, const char *text, int64_t value) {
    decimal_text number;
    (void)write_decimal(value, number);
    const char *const words[] = {number};
    put_line(report, text, words);
}

/// The 16-bit `value` as 0x and four hexadecimal digits.
using checksum_text = char[sizeof "0x0000"];
void write_checksum(uint16_t value, checksum_text &hex) {
    hex[0] = '0';
    hex[1] = 'x';
    for (size_t digit = 5; digit >= 2; --digit, value = static_cast<uint16_t>(value >> 4))
        hex[digit] = "0123456789ABCDEF"[value & 0xF];
    hex[6] = '\0';
}

/// Why the file `name` gave no whole record: missing, not a regular file, not trusted (and
/// why), short (its size), or unreadable.
void put_why_unread(FILE *report, const char *name, read_outcome read, int64_t size,
                    trust why = trust::trusted) {
    const char *const words[] = {name};
    switch (read) {
    case read_outcome::missing:
        put_line(report, missing_line.text, words);
        break;
    case read_outcome::not_regular:
        put_line(report, not_regular_line.text, words);
        break;
    case read_outcome::not_trusted: {
        const char *const reason[] = {name, trust_reason(why)};
        put_line(report, not_trusted_line.text, reason);
        break;
    }
    case read_outcome::short_file: {
        decimal_text number;
        (void)write_decimal(size, number);
        const char *const short_words[] = {name, number};
        put_line(report, short_line.text, short_words);
        break;
    }
    default:
        put_line(report, unreadable_line.text, words);
        break;
    }
}

void put_record(FILE *report, const unit_config_record &record) {
    put_number_line(report, tag_line.text, record_tag(record));
    put_number_line(report, adjusted_value_line.text, adjusted_value(record));
    put_number_line(report, selector_line.text, selector(record));
    put_number_line(report, option_byte_line.text, option_byte(record));
    put_number_line(report, adjust_stamp_line.text, adjust_stamp(record));
    checksum_text stored;
    write_checksum(stored_checksum(record), stored);
    const char *const words[] = {stored};
    bool right = compute_checksum(record) == stored_checksum(record);
    put_line(report, right ? checksum_right_line.text : checksum_wrong_line.text, words);
}

/// "repair: <name> <before> -> <after>" when the two differ.
void put_change(FILE *report, const char *name, int64_t before, int64_t after) {
    if (before == after)
        return;
    decimal_text old_value;
    decimal_text new_value;
    (void)write_decimal(before, old_value);
    (void)write_decimal(after, new_value);
    const char *const words[] = {name, old_value, new_value};
    put_line(report, repair_change_line.text, words);
}

/// Runs the repair on a copy of `record` and names each field it would change, old -> new.
/// Returns whether the repair would write.
bool put_repair(FILE *report, const unit_config_record &record) {
    unit_config_record repaired = record;
    if (!repair_record(repaired)) {
        put_line(report, repair_none_line.text);
        return false;
    }
    put_change(report, "option_byte", option_byte(record), option_byte(repaired));
    put_change(report, "adjusted_value", adjusted_value(record), adjusted_value(repaired));
    put_change(report, "adjust_stamp", adjust_stamp(record), adjust_stamp(repaired));
    if (stored_checksum(record) != stored_checksum(repaired)) {
        checksum_text before;
        checksum_text after;
        write_checksum(stored_checksum(record), before);
        write_checksum(stored_checksum(repaired), after);
        const char *const words[] = {"checksum", before, after};
        put_line(report, repair_change_line.text, words);
    }
    return true;
}

/// The staged file a run would install: as judged, its start, and whether that is a whole record.
struct staged_start {
    staged_file file;
    unit_config_record record;
    bool whole;
};

/// The identity, known and staged lines. Returns whether a run would install: a known unit
/// whose staged file the run trusts (`judge_staged_file`), left in `staged`. A staged FIFO,
/// directory or device is not opened.
bool report_identity_and_staged(FILE *report, const unit_config_paths &paths,
                                staged_start &staged) {
    uint16_t unit = 0;
    int64_t size = 0;
    trust why = trust::trusted;
    read_outcome identity = read_unit_number(paths.identity_file, unit, size, why);
    if (identity != read_outcome::whole) {
        put_why_unread(report, "identity", identity, size, why);
        put_line(report, known_no_line.text);
        return false;
    }
    put_number_line(report, identity_line.text, unit);
    bool known = is_known_unit(unit);
    put_line(report, known ? known_yes_line.text : known_no_line.text);
    if (!known)
        return false;
    staged_file &file = staged.file;
    file = judge_staged_file(paths.staged_directory, unit);
    read_outcome read = refused_read(file.verdict);
    if (file.verdict == trust::trusted)
        read = read_judged_file_start(file.path, staged.record.bytes, sizeof staged.record.bytes,
                                      file.size);
    staged.whole = read == read_outcome::whole;
    if (read != read_outcome::whole && read != read_outcome::short_file) {
        put_why_unread(report, "staged", read, file.size, file.verdict);
        return false;
    }
    put_number_line(report, staged_line.text, file.size);
    return true;
}

/// The installed line and, for a whole record, its fields. Returns whether there is one, left
/// in `installed`; `can_write` says whether a run could write the installed file now. The
/// size of a regular file read, whole or short, is left in `size`, else -1. A link others may
/// re-point is not followed here either.
bool report_installed(FILE *report, const char *installed_file, unit_config_record &installed,
                      int64_t &size, bool &can_write) {
    installed_path judged;
    judge_installed_path(installed_file, judged);
    read_outcome read = refused_read(judged.verdict);
    if (judged.verdict == trust::trusted)
        read = read_file_start(installed_file, installed.bytes, sizeof installed.bytes, size);
    can_write = judged.verdict == trust::trusted && installed_file_writable(judged);
    if (read != read_outcome::whole && read != read_outcome::short_file)
        size = -1;
    if (read != read_outcome::whole) {
        put_why_unread(report, "installed", read, size, judged.verdict);
        return false;
    }
    put_number_line(report, installed_line.text, size);
    put_record(report, installed);
    return true;
}

/// Whether a run's install and repair would leave the installed file as it is: the whole file,
/// byte for byte, the staged file with its start as the repair leaves it (a whole record
/// repaired, a short one as it is). `installed` holds the installed file's start,
/// `installed_size` its size (-1 when it was not read).
bool same_as_installed(const staged_start &staged, const char *installed_file,
                       const unit_config_record &installed, int64_t installed_size) {
    if (installed_size != staged.file.size)
        return false;
    unit_config_record left = staged.record;
    if (staged.whole)
        (void)repair_record(left);
    size_t start = sizeof left.bytes;
    if (staged.file.size < static_cast<int64_t>(start))
        start = static_cast<size_t>(staged.file.size);
    if (memcmp(left.bytes, installed.bytes, start) != 0)
        return false;
    return static_cast<int64_t>(start) == staged.file.size ||
           same_bytes_from(staged.file.path, installed_file, start);
}

/// The install line: "install: no", or whether a run's install would change the installed file
/// (`same`); then, for an install, the line that says the repair lines are of the staged record.
/// Returns the record the repair lines are of: the staged one when a run would install it (none
/// when it is short), else the installed one (none when there is none).
const unit_config_record *put_install(FILE *report, bool installs, bool same,
                                      const staged_start &staged,
                                      const unit_config_record *installed) {
    if (!installs) {
        put_line(report, install_no_line.text);
        return installed;
    }
    put_line(report, same ? install_same_line.text : install_yes_line.text);
    put_line(report, repairs_staged_line.text);
    return staged.whole ? &staged.record : nullptr;
}

} // namespace

int check_unit_config(FILE *report, const unit_config_paths &paths) {
    staged_start staged{};
    bool installs = report_identity_and_staged(report, paths, staged);
    unit_config_record installed{};
    int64_t installed_size = -1;
    bool can_write = false;
    bool readable =
        report_installed(report, paths.installed_file, installed, installed_size, can_write);
    // Where nothing can be written now (a read-only mount), a run installs and repairs nothing.
    installs = installs && can_write;
    bool same =
        installs && same_as_installed(staged, paths.installed_file, installed, installed_size);

    // The repair works on what the install leaves: the staged record when one is installed.
    const unit_config_record *to_repair =
        put_install(report, installs, same, staged, readable ? &installed : nullptr);
    bool repairs = false;
    if (to_repair != nullptr)
        repairs = put_repair(report, *to_repair);
    else
        put_line(report, repair_none_line.text);
    if (repairs && !can_write)
        put_line(report, repair_unwritable_line.text);
    if (fflush(report) != 0 || ferror(report) != 0)
        return report_lost.status;
    if (installs ? !same : repairs && can_write)
        return changes_to_make.status;
    // The same bytes installed again are an installed record the repair has already kept right
    // (a repaired record needs no second repair), whatever it would do to the staged one.
    bool kept_right = same || !repairs;
    return readable && kept_right ? nothing_to_do.status : no_installed_record.status;
}
