#include "ui/Common/Controls.h"

#include "core/Settings/Settings.h"
#include "core/Text/Text.h"

#include "ui/Icons/Icons.h"
#include "ui/Main/Help.h"

#include <QStringList>
#include <QTreeWidget>

namespace Plumeria {

void PlaceLabel(QLabel* Label, int Left, int Top)
{
    Label->move(Left, Top);
    Label->resize(Label->sizeHint());
}

QPushButton* HelpButton(QWidget* Parent, const char* Name, const QString& Hint, const QString& Page)
{
    auto* Button = Named(new QPushButton(QStringLiteral("?"), Parent), Name);
    Button->setToolTip(Hint);
    Button->setAutoDefault(false);
    QObject::connect(Button, &QPushButton::clicked, Button, [Page] { OpenHelp(Page); });
    return Button;
}

QPushButton* PlainButton(QWidget* Parent, const char* Name, const QString& Caption, int Image)
{
    auto* Button = Named(new QPushButton(Caption, Parent), Name);
    SetButtonImage(Button, Image);
    Button->setAutoDefault(false);
    return Button;
}

void SetListColumns(QTreeWidget* List, std::span<const TListColumn> Columns)
{
    List->setColumnCount(static_cast<int>(Columns.size()));
    QStringList Captions;
    for (const TListColumn& Column : Columns)
        Captions << QString::fromUtf8(Column.Caption);
    List->setHeaderLabels(Captions);
    for (std::size_t I = 0; I < Columns.size(); ++I)
        List->setColumnWidth(static_cast<int>(I), Columns[I].Width);
}

QString ScaleListName(const TScaleConfig& Scale)
{
    const std::string Name = Trim(Scale.Name);
    return QtText(Name.empty() ? Trim(Scale.Host) : Name);
}

} // namespace Plumeria
