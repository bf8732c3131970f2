#pragma once
// One source of truth for lists and grids: what a window acts on is what
// the control shows highlighted, however the highlight got there (mouse,
// keyboard, the program, or an accessibility action, which selects a row
// without moving the current one).
#include <QAbstractItemView>
#include <QListWidget>

#include <functional>

namespace tessel {

// Keeps the selected row and the current row of a single-selection view
// one and the same: when either moves the other follows, so that the
// highlighted row is the current one and the keyboard goes on from it.
// Call after the view has its model.
void KeepSelectionOnCurrent(QAbstractItemView& view);

// The row a single-selection view shows selected, or -1.
int SelectedRow(const QAbstractItemView& view);

// A list of choices: always exactly one item selected (a selection the user
// empties falls back on the current item), and onChosen(row) called each
// time the chosen item changes, however. Call after the items are in.
void BindChoice(QListWidget& list, std::function<void(int row)> onChosen);

// The text of a choice list's chosen item; empty when it has none.
QString ChosenText(const QListWidget& list);

}  // namespace tessel
