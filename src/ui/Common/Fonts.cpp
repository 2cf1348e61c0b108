#include "ui/Common/Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QList>
#include <QStringList>

namespace Plumeria {

namespace {

/// Whether the face the machine really draws `Font` with has Cyrillic letters.
bool WritesCyrillic(const QFont& Font)
{
    return QFontDatabase::writingSystems(QFontInfo(Font).family())
        .contains(QFontDatabase::Cyrillic);
}

QFont PreferredFont(const QString& Family, QFontDatabase::SystemFont Fallback, int PointSize)
{
    QFont Font =
        QFontDatabase::hasFamily(Family) ? QFont(Family) : QFontDatabase::systemFont(Fallback);
    Font.setPointSize(PointSize);
    // The interface is Russian. Wine without the Windows faces draws every face it lacks (the
    // system's own "MS Shell Dlg" among them) with whatever it finds first, here a maths face
    // with no Cyrillic whose Latin letters claim a box three lines high; text fields centre
    // their text on that box and push it out of sight. A machine's own face that writes Russian
    // and has the same pitch is the better choice then.
    if (!WritesCyrillic(Font)) {
        const bool Fixed = Fallback == QFontDatabase::FixedFont;
        for (const QString& Other : QFontDatabase::families(QFontDatabase::Cyrillic)) {
            if (QFontDatabase::isFixedPitch(Other) == Fixed) {
                Font.setFamily(Other);
                break;
            }
        }
    }
    return Font;
}

} // namespace

QFont InterfaceFont()
{
    return PreferredFont(QStringLiteral("Segoe UI"), QFontDatabase::GeneralFont, 9);
}

QFont FixedWidthFont()
{
    return PreferredFont(QStringLiteral("Consolas"), QFontDatabase::FixedFont, 9);
}

} // namespace Plumeria
