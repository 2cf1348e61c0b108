#include "ui/Common/GridLines.h"

#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeView>

namespace Plumeria {

namespace {

/// Paints each cell as usual, then its bottom and right edge.
class TGridDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
               const QModelIndex& Index) const override
    {
        QStyledItemDelegate::paint(Painter, Option, Index);
        Painter->save();
        Painter->setPen(GridLineColor(Option.widget));
        const QRect& Cell = Option.rect;
        Painter->drawLine(Cell.bottomLeft(), Cell.bottomRight());
        Painter->drawLine(Cell.topRight(), Cell.bottomRight());
        Painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override
    {
        // One pixel more, so the line never covers a descender.
        return QStyledItemDelegate::sizeHint(Option, Index) + QSize(0, 1);
    }
};

} // namespace

void ShowGridLines(QTreeView* List)
{
    List->setItemDelegate(new TGridDelegate(List));
}

QColor GridLineColor(const QWidget* List)
{
    // As the table view asks for its own grid colour.
    QStyleOptionViewItem Option;
    Option.initFrom(List);
    const int Hint = List->style()->styleHint(QStyle::SH_Table_GridLineColor, &Option, List);
    return QColor::fromRgba(static_cast<QRgb>(Hint));
}

} // namespace Plumeria
