#pragma once
// Inquiry by backup run: the runs above, the file versions below; a click on
// a run shows the versions that run recorded.
#include "inquiry/inquiry_window.h"

namespace tessel {

class BKPFIND1 : public InquiryWindow {
    Q_OBJECT
public:
    explicit BKPFIND1(AppContext& context);

protected:
    std::string versionsQuery(bool filtered) const override;
};

}  // namespace tessel
