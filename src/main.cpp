// unitcfg: installs a known unit's staged configuration, then checks and repairs the installed
// configuration record, and exits 0. Takes no arguments.
#include <csignal>

#include "unit_config/unit_config.h"

int main() {
    // A parent that left SIGCHLD ignored would make every wait fail, and a good copy would be
    // logged as failed.
    (void)std::signal(SIGCHLD, SIG_DFL);

    install_unit_config();
    repair_installed_config();
    return 0;
}
