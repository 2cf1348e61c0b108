#include "ui/Main/Help.h"

#include "core/Update/Update.h"
#include "ui/Common/Desktop.h"

namespace Plumeria {

QString HelpBaseUrl()
{
    return QString::fromStdString(UpdateUrl(PLUMERIA_SITE_URL, "/download/plumeriabridge/help/"));
}

QUrl HelpUrl(const QString& Page)
{
    return QUrl(HelpBaseUrl() + Page, QUrl::TolerantMode);
}

bool OpenHelp(const QString& Page)
{
    return OpenWithDefaultHandler(HelpUrl(Page));
}

} // namespace Plumeria
