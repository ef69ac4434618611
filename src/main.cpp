// unitcfg: installs a known unit's staged configuration, then checks and repairs the installed
// configuration record, and exits 0. Takes no arguments.
#include <signal.h>

#include "unit_config/unit_config.h"

namespace {

extern "C" void on_broken_pipe(int) {}

/// A message written to a standard output that nobody reads any more must not end the run.
/// A handler that does nothing turns SIGPIPE into a plain EPIPE for the program, and, unlike
/// ignoring the signal, is reset at exec: the children still start with SIGPIPE at its
/// default. A program started with SIGPIPE ignored keeps it so, and so do its children.
void survive_broken_pipe() {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        return;
    struct sigaction action {};
    action.sa_handler = on_broken_pipe;
    (void)sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    (void)sigaction(SIGPIPE, &action, nullptr);
}

} // namespace

int main() {
    // A parent that left SIGCHLD ignored would make every wait fail, and a good copy would be
    // logged as failed.
    (void)signal(SIGCHLD, SIG_DFL);
    survive_broken_pipe();

    install_unit_config();
    repair_installed_config();
    return 0;
}
