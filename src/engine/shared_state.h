#pragma once
// The process-wide shared state: one plain object made at start-up and
// passed by reference to every window and engine that needs it.
#include <cstdint>
#include <memory>
#include <string>

#include "catalog/connection.h"
#include "core/system_services.h"
#include "core/user_interface.h"

namespace tessel {

// A time of day in seconds since midnight; 0 (00:00:00) means "not set".
using TimeOfDay = int;

struct SharedState {
    SharedState(UserInterface& userInterface, SystemServices& systemServices)
        : ui(userInterface), system(systemServices) {}

    UserInterface& ui;
    SystemServices& system;

    std::string dataFolder;
    std::unique_ptr<Connection> catalog;
    const std::string versionText = "1.04";
    std::string catalogVersion;
    std::string providerClause;

    std::string autoFlag = "NO";
    std::string initBkp = "NO";
    std::string termBkp = "NO";
    std::string icon = "NO";
    // "YES": a timed or start-up backup that stored everything is also
    // notified (one with failures always is).
    std::string notify = "YES";
    TimeOfDay time1 = 0;
    TimeOfDay time2 = 0;
    TimeOfDay time3 = 0;

    Connection& db() { return *catalog; }
};

}  // namespace tessel
