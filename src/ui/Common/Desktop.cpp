#include "ui/Common/Desktop.h"

#include <QDesktopServices>

#include <utility>

namespace Plumeria {

namespace {

std::function<bool(const QUrl&)>& Replacement()
{
    static std::function<bool(const QUrl&)> Handler;
    return Handler;
}

} // namespace

bool OpenWithDefaultHandler(const QUrl& Url)
{
    if (Replacement())
        return Replacement()(Url);
    return QDesktopServices::openUrl(Url);
}

void SetDefaultHandlerForTests(std::function<bool(const QUrl&)> Handler)
{
    Replacement() = std::move(Handler);
}

} // namespace Plumeria
