#pragma once
// Inquiry by directory: the registered directories above, the file versions
// below; a click on a directory shows that directory's versions.
#include "inquiry/inquiry_window.h"

namespace tessel {

class BKPFIND2 : public InquiryWindow {
    Q_OBJECT
public:
    explicit BKPFIND2(AppContext& context);

protected:
    std::string versionsQuery(bool filtered) const override;
};

}  // namespace tessel
