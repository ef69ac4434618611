// unitcfg: installs a known unit's staged configuration, then checks and repairs the installed
// configuration record, and exits 0. Takes no arguments; "--help" or "--version" alone only
// prints, and "--check" alone reports what a run would do, changing nothing.
#include <stdio.h>
#include <string.h>

#include "history/history.h"
#include "storage/directory_lock.h"
#include "system/shell_child.h"
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
constexpr char usage_text[] =
    "usage: unitcfg | unitcfg --check | unitcfg --help | unitcfg --version\n"
    "Installs the staged configuration /tmp/Quarvane/<unit>.CFG of the known unit that\n"
    "/tmp/UNIT.CFG names as /usr/share/Quarvane/UNIT.CFG, logging the copy in\n"
    "/home/Quarvane/History.txt, then checks and repairs the installed configuration record.\n"
    "Takes no arguments: any others are ignored and the whole job is done.\n"
    "--check: report what a run would do, changing nothing; exit 0: nothing, 1: an install\n"
    "or a repair, 2: no installed record, 3: the report could not be written. See unitcfg(8).\n";

/// "--help" or "--version" as the only argument asks for its text, and nothing else is done:
/// no file is opened and no process started. Every other argument list is ignored.
const char *text_asked_for(int argc, char **argv) {
    if (argc != 2)
        return nullptr;
    if (strcmp(argv[1], "--help") == 0)
        return usage_text;
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
