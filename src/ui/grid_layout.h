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
};

// Twips to pixels: 1440 twips an inch at the screen's logical dpi (15 twips
// a pixel at 96 dpi).
int TwipsToPixels(int twips, const QWidget& widget);

// Lays out the columns of a grid whose model is an SqlGridModel, in the
// order of the query's select list. A shown column is as wide as its twips
// say, wider when its caption or the widest of the first rows' texts needs
// more at the grid's font, so no caption and no such text is cut.
void ApplyGridLayout(QTableView& view, const std::vector<GridColumn>& columns);

// Rows whose texts a layout measures.
inline constexpr int kMeasuredRows = 256;

}  // namespace tessel
