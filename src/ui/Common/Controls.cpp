#include "ui/Common/Controls.h"

#include "ui/Icons/Icons.h"
#include "ui/Main/Help.h"

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

} // namespace Plumeria
