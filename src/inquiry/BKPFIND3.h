#pragma once
// Latest file state: the registered directories above, the latest version
// of each file of the clicked directory below, all of them or only the
// excluded ones and those without a usable copy.
#include "inquiry/inquiry_window.h"

class QListWidget;

namespace tessel {

class BKPFIND3 : public InquiryWindow {
    Q_OBJECT
public:
    explicit BKPFIND3(AppContext& context);
    void open() override;
    // Opens the window with "エラーのみ" chosen and the first directory
    // that has a latest version with an error (KBN1 "8" or above) shown.
    void openErrorsOnly();
    // "1" every latest version, "2" errors only; read at the next click on
    // a directory.
    const std::string& filterMode() const { return filterMode_; }

protected:
    std::string versionsQuery(bool filtered) const override;

private:
    QListWidget* list_;
    std::string filterMode_ = "1";
};

}  // namespace tessel
