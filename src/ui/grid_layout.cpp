#include "ui/grid_layout.h"

#include <QHeaderView>

#include "ui/sql_grid_model.h"

namespace tessel {

int TwipsToPixels(int twips, const QWidget& widget) { return twips * widget.logicalDpiX() / 1440; }

void ApplyGridLayout(QTableView& view, const std::vector<GridColumn>& columns) {
    auto* model = qobject_cast<SqlGridModel*>(view.model());
    view.horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (size_t i = 0; i < columns.size(); ++i) {
        int c = static_cast<int>(i);
        if (model) model->setColumnLook(c, QString::fromUtf8(columns[i].caption), columns[i].alignment);
        view.setColumnHidden(c, columns[i].widthTwips == 0);
        if (columns[i].widthTwips > 0) view.setColumnWidth(c, TwipsToPixels(columns[i].widthTwips, view));
    }
}

}  // namespace tessel
