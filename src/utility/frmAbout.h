#pragma once
// The version window: program title, icon and version, and a button that
// starts the system information program.
#include <QWidget>

namespace tessel {

class AppContext;

class frmAbout : public QWidget {
    Q_OBJECT
public:
    explicit frmAbout(AppContext& context);
    void open();
    // Starts the desktop's system information program, or tells the user
    // that none can be started.
    void StartSysInfo();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    AppContext& ctx_;
};

}  // namespace tessel
