// unitcfg: installs a known unit's staged configuration, then checks and repairs the installed
// configuration record, and exits 0. Takes no arguments; "--help" or "--version" alone only
// prints, and "--check" alone reports what a run would do, changing nothing.
#include <stdio.h>
#include <string.h>

#include "history/history.h"
#include "storage/directory_lock.h"
#include "system/command_text.h"
#include "system/shell_child.h"
#include "unit_config/check_report.h"
#include "unit_config/unit_config.h"

namespace {

/// The longest a run holds its lock: the copy and its reap, the outcome entry and its reap
/// (`cp` prints nothing to log), and the repair's writes, which take about a second on NOR
/// flash. A second run waits longer than that, so that it follows a first one.
constexpr int64_t repair_writes_ms = 2000;
static_assert(lock_wait_ms > copy_deadline_ms + reap_deadline_ms + entry_deadline_ms +
                                 reap_deadline_ms + repair_writes_ms,
              "a run waits for the lock longer than a run holds it");

constexpr char version_text[] = "unitcfg " UNITCFG_VERSION "\nbuild: " UNITCFG_BUILD "\n";
constexpr char usage_head[] =
    "usage: unitcfg | unitcfg --check | unitcfg --help | unitcfg --version\n"
    "Installs the staged configuration /tmp/Quarvane/<unit>.CFG of the known unit that\n"
    "/tmp/UNIT.CFG names as /usr/share/Quarvane/UNIT.CFG, logging the copy in\n"
    "/home/Quarvane/History.txt, then checks and repairs the installed configuration record.\n"
    "Takes no arguments: any others are ignored and the whole job is done.\n";
constexpr char check_head[] = "--check: report what a run would do, changing nothing; exit ";
constexpr char check_tail[] = ".";
constexpr char manual_pointer[] = " See unitcfg(8).\n";
/// The --check sentence is wrapped at its last blank within this many columns; the pointer to
/// the manual follows it on its last line.
constexpr size_t check_sentence_width = 87;

/// The text of "--help": its head, then what --check does and its exit statuses, taken from
/// `check_statuses` ("0: nothing, 1: ..."), then the pointer to the manual.
constexpr size_t usage_capacity() {
    size_t length = text_length(usage_head) + text_length(check_head) + text_length(check_tail) +
                    text_length(manual_pointer);
    for (const check_status &status : check_statuses)
        length += sizeof ", 0: " - 1 + text_length(status.meaning);
    return length + 1;
}

struct usage {
    char text[usage_capacity()];
};

constexpr usage make_usage() {
    usage made{};
    size_t end = 0;
    auto append = [&made, &end](const char *text) {
        for (size_t at = 0; text[at] != '\0'; ++at)
            made.text[end++] = text[at];
    };
    append(usage_head);
    size_t line_start = end;
    append(check_head);
    const char *separator = "";
    for (const check_status &status : check_statuses) {
        const char number[] = {static_cast<char>('0' + status.status), ':', ' ', '\0'};
        append(separator);
        append(number);
        append(status.meaning);
        separator = ", ";
    }
    append(check_tail);
    while (end - line_start > check_sentence_width) {
        size_t blank = line_start + check_sentence_width;
        while (made.text[blank] != ' ')
            --blank;
        made.text[blank] = '\n';
        line_start = blank + 1;
    }
    append(manual_pointer);
    return made;
}

constexpr bool each_status_one_digit() {
    for (const check_status &status : check_statuses) {
        if (status.status < 0 || status.status > 9)
            return false;
    }
    return true;
}
static_assert(each_status_one_digit(), "the usage writes each status as one digit");

constexpr usage usage_text = make_usage();

/// "--help" or "--version" as the only argument asks for its text, and nothing else is done:
/// no file is opened and no process started. Every other argument list is ignored.
const char *text_asked_for(int argc, char **argv) {
    if (argc != 2)
        return nullptr;
    if (strcmp(argv[1], "--help") == 0)
        return usage_text.text;
    if (strcmp(argv[1], "--version") == 0)
        return version_text;
    return nullptr;
}

} // namespace

int main(int argc, char **argv) {
    const char *text = text_asked_for(argc, argv);
    if (text != nullptr) {
        survive_broken_pipe();
        (void)fputs(text, stdout);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--check") == 0) {
        survive_broken_pipe();
        return check_unit_config(stdout);
    }
    // A second run started meanwhile (a boot script and a technician) waits for this one: it
    // holds the installed file's directory until it exits.
    int lock = lock_containing_directory(default_unit_config_paths.installed_file);
    install_unit_config();
    repair_installed_config();
    release_directory_lock(lock);
    return 0;
}
