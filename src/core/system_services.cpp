#include "core/system_services.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tessel {

void RealSystemServices::powerOff() {
    // systemctl talks to logind over D-Bus, which applies the session's
    // power-off policy for the logged-in user.
    const char* argv[] = {"systemctl", "poweroff", nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "systemctl", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

}  // namespace tessel
