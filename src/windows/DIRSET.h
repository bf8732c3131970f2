#pragma once
// The directory registration window: registered directories, the
// destination prefix and the compression switch, and the initial backup.
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPlainTextEdit;
class QFileSystemModel;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QTableView;
class QTreeView;

namespace tessel {

class AppContext;
class RunPanel;
class SqlGridModel;

class DIRSET : public QWidget {
    Q_OBJECT
public:
    explicit DIRSET(AppContext& context);

    // Shows the window; the opening steps run only when it is loaded anew.
    void open();

    // The directory picker opened a directory (also called by the picker).
    void directoryChanged(const QString& path);
    // A click on a grid row.
    void takeRow(int row);

    bool running() const;

    const QString& kindCode() const { return kindCode_; }
    const QString& compressFlag() const { return compressFlag_; }
    const QString& entryText() const { return entryText_; }
    bool prefixMode() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void load();
    void SETGRID();
    void requery();
    void ODIRSET();
    void setPrefixMode(bool on);

    void registerDirectory();
    void deleteRegistration();
    void initialBackup();
    void destinationChanged();
    void prefixExit();
    void sourceFocusIn();
    void sourceFocusOut();
    void compressionChosen(int row);
    // Leaves by "戻る" (hidden) or the close box (closed).
    void leave(bool close);
    void selectRowOf(std::int64_t dirNo);
    std::optional<std::int64_t> currentDirNo() const;
    // The scan choices in their fields (the defaults for none).
    void showScanChoices(const std::optional<std::int64_t>& dirNo);
    // The patterns as the field gives them, one a line; those shown keep
    // their bytes when the field was left as it was.
    std::vector<std::string> typedPatterns() const;

    AppContext& ctx_;
    bool loaded_ = false;
    bool inFocusMessage_ = false;
    // The list stands past its last row after a search that found nothing.
    bool listAtEnd_ = false;
    QString entryText_;
    QString kindCode_ = "1";
    QString compressFlag_ = "0";

    QLineEdit* prefix_;
    QListWidget* compression_;
    QRadioButton* dirsel1_;
    QRadioButton* dirsel2_;
    QComboBox* drives_;
    QTreeView* dirs_;
    QFileSystemModel* fsModel_;
    QLineEdit* source_;
    QLineEdit* dest_;
    QListWidget* kinds_;
    QListWidget* subdirs_;
    QListWidget* autoBackup_;
    QLineEdit* remark_;
    QPlainTextEdit* patterns_;
    QCheckBox* hiddenFolders_;
    QCheckBox* cacheFolders_;
    std::vector<std::string> shownPatterns_;
    QString shownPatternText_;
    QTableView* grid_;
    SqlGridModel* model_;
    RunPanel* panel_;
    // The window itself moves the grid's highlight (after a registration,
    // for a typed source): the row is not taken into the edit fields then.
    bool programSelects_ = false;
    // A compression choice was refused; the list goes back to the stored one.
    bool refusingCompression_ = false;
    // Leaving was asked for during an initial backup: done when it ends.
    enum class Leave { kStay, kHide, kClose } leaveWhenDone_ = Leave::kStay;
    std::vector<QWidget*> idleOnly_;
};

}  // namespace tessel
