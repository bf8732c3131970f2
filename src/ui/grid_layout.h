#pragma once
// Column layouts of the grids: caption, width in twips (0 hides the
// column), alignment; no column can be resized by the user.
#include <QTableView>

#include <vector>

namespace tessel {

struct GridColumn {
    const char* caption;
    int widthTwips;
    Qt::Alignment alignment = {};
    // A name or path of any length (a title, a folder, a file name): shown
    // at its width, cut with an ellipsis (the whole text is the cell's
    // tooltip), and given the room the grid has beyond its columns.
    bool name = false;
};

// A name column (GridColumn::name).
constexpr GridColumn NameColumn(const char* caption, int widthTwips) { return {caption, widthTwips, {}, true}; }

// Twips to pixels: 1440 twips an inch at the screen's logical dpi (15 twips
// a pixel at 96 dpi).
int TwipsToPixels(int twips, const QWidget& widget);

// Lays out the columns of a grid whose model is an SqlGridModel, in the
// order of the query's select list. A shown column other than a name column
// is as wide as its twips say, wider when its caption or the widest of the
// first rows' texts needs more at the grid's font, so no caption and no
// date, time or code is cut. Name columns are as wide as their twips say
// (wider for the caption) and share whatever room the grid has beyond all
// columns, in proportion to their twips, as the grid grows and shrinks
// with its window; so long names never push the other columns out of
// sight.
void ApplyGridLayout(QTableView& view, const std::vector<GridColumn>& columns);

// Rows whose texts a layout measures.
inline constexpr int kMeasuredRows = 256;

}  // namespace tessel
