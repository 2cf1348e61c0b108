#include "ui/Common/Fonts.h"

#include <QFontDatabase>

namespace Plumeria {

namespace {

QFont PreferredFont(const QString& Family, QFontDatabase::SystemFont Fallback, int PointSize)
{
    QFont Font =
        QFontDatabase::hasFamily(Family) ? QFont(Family) : QFontDatabase::systemFont(Fallback);
    Font.setPointSize(PointSize);
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
