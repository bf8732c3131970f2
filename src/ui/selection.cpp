#include "ui/selection.h"

#include <QItemSelectionModel>
#include <QTableView>

#include <algorithm>
#include <memory>

#include <set>

namespace tessel {
namespace {

std::set<int> SelectedRows(const QAbstractItemView& view) {
    std::set<int> rows;
    if (const QItemSelectionModel* sm = view.selectionModel())
        for (const QModelIndex& i : sm->selectedIndexes()) rows.insert(i.row());
    return rows;
}

// The first column the view shows, where a current cell of a row goes.
int FirstShownColumn(const QAbstractItemView& view) {
    const QAbstractItemModel* model = view.model();
    const auto* table = qobject_cast<const QTableView*>(&view);
    for (int c = 0; model && c < model->columnCount(); ++c)
        if (!table || !table->isColumnHidden(c)) return c;
    return 0;
}

}  // namespace

void KeepSelectionOnCurrent(QAbstractItemView& view) {
    QItemSelectionModel* sm = view.selectionModel();
    QObject::connect(sm, &QItemSelectionModel::currentRowChanged, &view, [&view, sm](const QModelIndex& current) {
        if (!current.isValid()) return;
        const std::set<int> rows = SelectedRows(view);
        if (rows.size() == 1 && *rows.begin() == current.row()) return;
        sm->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    });
    QObject::connect(sm, &QItemSelectionModel::selectionChanged, &view, [&view, sm] {
        const std::set<int> rows = SelectedRows(view);
        if (rows.size() != 1 || *rows.begin() == sm->currentIndex().row()) return;
        const int column = sm->currentIndex().isValid() ? sm->currentIndex().column() : FirstShownColumn(view);
        sm->setCurrentIndex(view.model()->index(*rows.begin(), column), QItemSelectionModel::NoUpdate);
    });
}

int SelectedRow(const QAbstractItemView& view) {
    const std::set<int> rows = SelectedRows(view);
    return rows.size() == 1 ? *rows.begin() : -1;
}

void BindChoice(QListWidget& list, std::function<void(int row)> onChosen) {
    list.setSelectionMode(QAbstractItemView::SingleSelection);
    KeepSelectionOnCurrent(list);
    auto chosen = std::make_shared<int>(SelectedRow(list));
    QObject::connect(list.selectionModel(), &QItemSelectionModel::selectionChanged, &list,
                     [&list, chosen, onChosen = std::move(onChosen)] {
                         int row = SelectedRow(list);
                         if (row < 0 && list.count() > 0) {
                             // Nothing would be shown chosen: the current
                             // item (or the last chosen one) is taken again.
                             row = list.currentRow() >= 0 ? list.currentRow() : std::max(*chosen, 0);
                             if (row >= list.count()) row = 0;
                             list.item(row)->setSelected(true);
                             return;  // the selection change this makes calls back
                         }
                         if (row == *chosen) return;
                         *chosen = row;
                         if (row >= 0) onChosen(row);
                     });
}

QString ChosenText(const QListWidget& list) {
    const int row = SelectedRow(list);
    return row >= 0 ? list.item(row)->text() : QString();
}

}  // namespace tessel
