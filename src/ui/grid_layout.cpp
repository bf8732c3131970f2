#include "ui/grid_layout.h"

#include <QHeaderView>

#include <algorithm>

#include "ui/sql_grid_model.h"

namespace tessel {
namespace {

// The width a column needs for its caption and for the texts of the first
// rows, as the header and the item delegate draw them.
int NeededWidth(QTableView& view, int column) {
    int needed = view.horizontalHeader()->sectionSizeHint(column);
    QAbstractItemModel* model = view.model();
    const int rows = std::min(model->rowCount(), kMeasuredRows);
    // The delegate's own measure, margins included, and the grid line.
    for (int r = 0; r < rows; ++r) needed = std::max(needed, view.sizeHintForIndex(model->index(r, column)).width() + 1);
    return needed;
}

}  // namespace

int TwipsToPixels(int twips, const QWidget& widget) { return twips * widget.logicalDpiX() / 1440; }

void ApplyGridLayout(QTableView& view, const std::vector<GridColumn>& columns) {
    auto* model = qobject_cast<SqlGridModel*>(view.model());
    view.horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (size_t i = 0; i < columns.size(); ++i) {
        int c = static_cast<int>(i);
        if (model) model->setColumnLook(c, QString::fromUtf8(columns[i].caption), columns[i].alignment);
        view.setColumnHidden(c, columns[i].widthTwips == 0);
        if (columns[i].widthTwips > 0)
            view.setColumnWidth(c, std::max(TwipsToPixels(columns[i].widthTwips, view), NeededWidth(view, c)));
    }
}

}  // namespace tessel
