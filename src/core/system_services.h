#pragma once
// Operations that reach outside the process and must be replaceable in
// tests: powering the machine off and writing to the system log.
#include <string>

#include "platform/system_log.h"

namespace tessel {

class SystemServices {
public:
    virtual ~SystemServices() = default;
    // Asks the login manager to power the machine off. The result is not used.
    virtual void powerOff() = 0;
    // Writes one entry to the system log (syslog, and so the journal).
    virtual void systemLog(SystemLogLevel, const std::string&) {}
};

// The real implementation: asks systemd-logind (through systemctl) to power off.
class RealSystemServices final : public SystemServices {
public:
    void powerOff() override;
    void systemLog(SystemLogLevel level, const std::string& text) override { WriteSystemLog(level, text); }
};

}  // namespace tessel
