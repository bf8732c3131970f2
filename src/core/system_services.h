#pragma once
// Operations that reach outside the process and must be replaceable in
// tests: powering the machine off and opening a document with the desktop.
#include <string>

namespace tessel {

class SystemServices {
public:
    virtual ~SystemServices() = default;
    // Asks the login manager to power the machine off. The result is not used.
    virtual void powerOff() = 0;
};

// The real implementation: asks systemd-logind (through systemctl) to power off.
class RealSystemServices final : public SystemServices {
public:
    void powerOff() override;
};

}  // namespace tessel
