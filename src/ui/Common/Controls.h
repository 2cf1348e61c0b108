#pragma once
// Small helpers every window uses when it builds its controls: texts between core (UTF-8) and
// Qt, a control named for the tests, a label placed at its designed spot and as wide as its
// text, a "?" button that opens a help page, a button that is never the default one, and the
// name a scale goes by in a list.

#include <QLabel>
#include <QPushButton>
#include <QString>

#include <span>
#include <string>
#include <string_view>

class QTreeWidget;

namespace Plumeria {

struct TScaleConfig;

inline QString QtText(std::string_view Utf8)
{
    return QString::fromUtf8(Utf8.data(), static_cast<qsizetype>(Utf8.size()));
}

inline std::string Utf8(const QString& Text)
{
    return Text.toStdString();
}

/// Gives `Control` its object name (the name the program's documents use) and returns it.
template <typename TControl> TControl* Named(TControl* Control, const char* Name)
{
    Control->setObjectName(QString::fromLatin1(Name));
    return Control;
}

/// Puts the label's top left corner at (Left, Top) and sizes it to its text.
void PlaceLabel(QLabel* Label, int Left, int Top);

/// A "?" button with `Hint` as its tooltip that opens help page `Page` when clicked.
QPushButton* HelpButton(QWidget* Parent, const char* Name, const QString& Hint,
                        const QString& Page);

/// A button that Enter does not press unless it has the focus.
QPushButton* PlainButton(QWidget* Parent, const char* Name, const QString& Caption, int Image);

/// One column of a report list: its caption (UTF-8) and width in pixels.
struct TListColumn
{
    const char* Caption;
    int Width;
};

/// Gives the list its columns, in order, at their widths.
void SetListColumns(QTreeWidget* List, std::span<const TListColumn> Columns);

/// The text of a scale's name column: its trimmed name, or its trimmed host when it has no name,
/// so that no row of a scale list is blank where the user looks for it.
QString ScaleListName(const TScaleConfig& Scale);

} // namespace Plumeria
