#pragma once
// The help pages on the maker's web site, opened in the user's browser. The base address is
// fixed at build time (CMake cache variable PLUMERIA_SITE_URL).

#include <QString>
#include <QUrl>

namespace Plumeria {

/// The site address followed by "download/plumeriabridge/help/".
QString HelpBaseUrl();
/// The base address followed by `Page` unchanged ("index.html", "general.html#work", ...).
QUrl HelpUrl(const QString& Page);
/// Opens `Page` with the system's default handler. False when nothing took it.
bool OpenHelp(const QString& Page);

} // namespace Plumeria
