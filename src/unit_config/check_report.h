// The report of `--check`: every line it can print and every status it can exit with, each
// written once, here. The report prints these texts; the usage text takes the statuses from
// here; the manual page says the same in prose.
#pragma once

/// One form of a report line: its text, each "%s" filled in by the report, and what it means.
struct check_line {
    const char *text;
    const char *meaning;
};

// The identity record, then for a known unit its staged file, then the installed file.
inline constexpr check_line identity_line = {"identity: %s",
                                             "the unit number in the identity record"};
inline constexpr check_line known_yes_line = {"known: yes",
                                              "the unit is one with a staged configuration"};
inline constexpr check_line known_no_line = {"known: no", "it is not, or there is no identity"};
inline constexpr check_line staged_line = {"staged: %s bytes",
                                           "the staged file is one the run trusts, this large"};
inline constexpr check_line installed_line = {"installed: %s bytes",
                                              "the installed file holds a whole record"};

// Why one of the three gives no record ("%s" first is "identity", "staged" or "installed").
inline constexpr check_line missing_line = {"%s: missing", "there is no file"};
inline constexpr check_line not_regular_line = {"%s: not a regular file",
                                                "a FIFO, a directory or a device: never opened"};
inline constexpr check_line not_trusted_line = {
    "%s: not trusted, %s", "others could have put it there or changed it; then the reason"};
inline constexpr check_line short_line = {"%s: short, %s bytes",
                                          "fewer bytes than a record (not for staged)"};
inline constexpr check_line unreadable_line = {"%s: unreadable", "it cannot be read"};

// The installed record's fields, each in decimal, then its checksum.
inline constexpr check_line tag_line = {"tag: %s", "the record's tag (89 is repaired)"};
inline constexpr check_line adjusted_value_line = {"adjusted_value: %s", "signed"};
inline constexpr check_line selector_line = {"selector: %s", "1309 and 1310 are corrected"};
inline constexpr check_line option_byte_line = {"option_byte: %s", "0 becomes 3"};
inline constexpr check_line adjust_stamp_line = {"adjust_stamp: %s", "set by a correction"};
inline constexpr check_line checksum_right_line = {"checksum: %s (right)",
                                                   "as stored, 0xHHHH, and it holds"};
inline constexpr check_line checksum_wrong_line = {"checksum: %s (wrong)",
                                                   "as stored, and it does not hold"};

// What a run would do.
inline constexpr check_line install_yes_line = {
    "install: yes", "a known unit's trusted staged file, and the installed file can be written: "
                    "a run would install it, and that changes the installed file"};
inline constexpr check_line install_same_line = {
    "install: yes, the same as installed",
    "a run would install the staged file, and it would leave the installed file as it is: the "
    "staged file, its record repaired, is the whole installed file byte for byte (a run still "
    "copies it, rewrites the installed file and appends its outcome entry to the history)"};
inline constexpr check_line install_no_line = {"install: no", "a run installs nothing"};
inline constexpr check_line repairs_staged_line = {
    "repairs: the staged record",
    "after an \"install: yes\" line: the repair lines that follow are of the staged record, as "
    "a run repairs it once installed, not of the installed record above"};
inline constexpr check_line repair_change_line = {
    "repair: %s %s -> %s",
    "a field the repair would change (option_byte, adjusted_value, adjust_stamp, checksum), "
    "old -> new, of the staged record when a run would install it, else of the installed one"};
inline constexpr check_line repair_none_line = {"repair: none", "the repair would change nothing"};
inline constexpr check_line repair_unwritable_line = {
    "repair: cannot be written",
    "the installed file cannot be written now: a run installs and repairs nothing"};

/// Every line form, in the order the report prints them.
inline constexpr const check_line *check_lines[] = {
    &identity_line,       &known_yes_line,     &known_no_line,     &staged_line,
    &installed_line,      &missing_line,       &not_regular_line,  &not_trusted_line,
    &short_line,          &unreadable_line,    &tag_line,          &adjusted_value_line,
    &selector_line,       &option_byte_line,   &adjust_stamp_line, &checksum_right_line,
    &checksum_wrong_line, &install_yes_line,   &install_same_line, &install_no_line,
    &repairs_staged_line, &repair_change_line, &repair_none_line,  &repair_unwritable_line,
};

/// An exit status of `--check` and what it means.
struct check_status {
    int status;
    const char *meaning;
};

inline constexpr check_status nothing_to_do = {0, "nothing to change"};
inline constexpr check_status changes_to_make = {
    1, "an install or a repair that changes the installed file"};
inline constexpr check_status no_installed_record = {2, "no installed record"};
inline constexpr check_status report_lost = {3, "the report could not be written"};

/// Every status, in order: what a run would change comes first; then a record a run cannot keep
/// right (none, or one whose repair cannot be written); and a report that did not reach its
/// reader says nothing of what a run would do.
inline constexpr check_status check_statuses[] = {nothing_to_do, changes_to_make,
                                                  no_installed_record, report_lost};
