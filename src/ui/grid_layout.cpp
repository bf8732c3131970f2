#include "ui/grid_layout.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>

#include <algorithm>

#include "ui/sql_grid_model.h"

namespace tessel {
namespace {

// The width a column needs for its caption and for the texts of the first
// rows, as the header and the item delegate draw them.
int NeededWidth(QTableView& view, int column, bool captionOnly) {
    int needed = view.horizontalHeader()->sectionSizeHint(column);
    if (captionOnly) return needed;
    QAbstractItemModel* model = view.model();
    const int rows = std::min(model->rowCount(), kMeasuredRows);
    // The delegate's own measure, margins included, and the grid line.
    for (int r = 0; r < rows; ++r) needed = std::max(needed, view.sizeHintForIndex(model->index(r, column)).width() + 1);
    return needed;
}

// Keeps a grid's name columns sharing the room beyond its columns: set up
// by the layout with each column's own width, it widens the name columns
// whenever the grid's viewport changes size.
class NameColumnFit : public QObject {
public:
    explicit NameColumnFit(QTableView& view) : QObject(&view), view_(view) {
        setObjectName("nameColumnFit");
        view.viewport()->installEventFilter(this);
    }
    // Widths by column (-1: hidden) and whether each is a name column.
    void set(std::vector<int> widths, std::vector<bool> names) {
        widths_ = std::move(widths);
        names_ = std::move(names);
        fit();
    }
    void fit() {
        int used = 0, nameTwips = 0;
        for (std::size_t c = 0; c < widths_.size(); ++c) {
            if (widths_[c] < 0) continue;
            used += widths_[c];
            if (names_[c]) nameTwips += widths_[c];
        }
        const int room = std::max(0, view_.viewport()->width() - used);
        int given = 0, last = -1;
        for (std::size_t c = 0; c < widths_.size(); ++c) {
            if (widths_[c] < 0) continue;
            int width = widths_[c];
            if (names_[c] && nameTwips > 0) {
                const int share = static_cast<int>(static_cast<long long>(room) * widths_[c] / nameTwips);
                width += share;
                given += share;
                last = static_cast<int>(c);
            }
            view_.setColumnWidth(static_cast<int>(c), width);
        }
        // What rounding left over goes to the last name column.
        if (last >= 0 && room > given) view_.setColumnWidth(last, view_.columnWidth(last) + room - given);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize) fit();
        return false;
    }

private:
    QTableView& view_;
    std::vector<int> widths_;
    std::vector<bool> names_;
};

}  // namespace

int TwipsToPixels(int twips, const QWidget& widget) { return twips * widget.logicalDpiX() / 1440; }

void ApplyGridLayout(QTableView& view, const std::vector<GridColumn>& columns) {
    auto* model = qobject_cast<SqlGridModel*>(view.model());
    view.horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.setTextElideMode(Qt::ElideRight);
    std::vector<int> widths(columns.size(), -1);
    std::vector<bool> names(columns.size(), false);
    for (size_t i = 0; i < columns.size(); ++i) {
        int c = static_cast<int>(i);
        if (model) model->setColumnLook(c, QString::fromUtf8(columns[i].caption), columns[i].alignment);
        view.setColumnHidden(c, columns[i].widthTwips == 0);
        if (columns[i].widthTwips <= 0) continue;
        widths[i] = std::max(TwipsToPixels(columns[i].widthTwips, view), NeededWidth(view, c, columns[i].name));
        names[i] = columns[i].name;
    }
    auto* fit = view.findChild<NameColumnFit*>("nameColumnFit", Qt::FindDirectChildrenOnly);
    if (!fit) fit = new NameColumnFit(view);
    fit->set(std::move(widths), std::move(names));
}

}  // namespace tessel
