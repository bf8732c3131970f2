#pragma once
// The retention window: shows the policy kept in the settings file, lets
// it be changed and saved, previews what it would remove (runs, versions,
// space freed) and applies it. Opened from the utility menu.
#include <QWidget>

#include "retention/forget.h"

class QSpinBox;
class QTableWidget;

namespace tessel {

class AppContext;

class BKPSEIRI : public QWidget {
    Q_OBJECT
public:
    explicit BKPSEIRI(AppContext& context);
    // Reads the stored policy into the fields and previews it.
    void open();
    RetentionPolicy policy() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void preview();
    void save();
    void apply();
    void showResult(const ForgetResult& result, bool done);

    AppContext& ctx_;
    QSpinBox* last_;
    QSpinBox* daily_;
    QSpinBox* weekly_;
    QSpinBox* monthly_;
    QSpinBox* yearly_;
    QTableWidget* grid_;
};

}  // namespace tessel
