#pragma once
// Grid lines for the report lists (the scales of the main window and of the scales window): Qt's
// tree views have none of their own, so every cell draws a line along its bottom and right edge
// in the colour the style gives table grids.

#include <QColor>

class QTreeView;
class QWidget;

namespace Plumeria {

/// Draws grid lines between the rows and columns of `List` from now on.
void ShowGridLines(QTreeView* List);

/// The colour of those lines in `List`'s style.
QColor GridLineColor(const QWidget* List);

} // namespace Plumeria
