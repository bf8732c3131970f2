#include "ui/grid_layout.h"

#include <QHeaderView>
#include <QStyle>

#include <algorithm>

#include "ui/sql_grid_model.h"

namespace tessel {
namespace {

// The width a column needs for its caption and for the texts of the first
// rows, as the header and the item delegate draw them.
int NeededWidth(QTableView& view, int column) {
    int needed = view.horizontalHeader()->sectionSizeHint(column);
    QAbstractItemModel* model = view.model();
    const QFontMetrics fm(view.font());
    // The delegate leaves a focus-frame margin (plus one pixel) either side,
    // and the grid line takes one more.
    const int margins = 2 * (view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1) + 1;
    const int rows = std::min(model->rowCount(), kMeasuredRows);
    for (int r = 0; r < rows; ++r) {
        const QString text = model->data(model->index(r, column)).toString();
        if (!text.isEmpty()) needed = std::max(needed, fm.horizontalAdvance(text) + margins);
    }
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
