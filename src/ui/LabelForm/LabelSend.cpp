#include "ui/LabelForm/LabelSend.h"

#include "core/Digi/LabelUpload.h"
#include "core/DigiSearch/SubnetScan.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "core/Settings/Settings.h"

#include <QApplication>

#include <exception>

namespace Plumeria {

int LabelTimeoutMs(const TLoaderSettings* Settings)
{
    if (!Settings || Settings->ConnectTimeoutMs < MinConnectTimeoutMs ||
        Settings->ConnectTimeoutMs > MaxConnectTimeoutMs)
        return DefaultConnectTimeoutMs;
    return Settings->ConnectTimeoutMs;
}

int DigiScalePort(const TScaleConfig& Scale)
{
    return Scale.Port > 0 ? Scale.Port : DigiDefaultPort(Scale.Host);
}

TLabelSendOutcome SendLabelToScale(const TScaleConfig& Scale, const std::string& AdapterIp,
                                   int TimeoutMs, const std::filesystem::path& Folder)
{
    const QString Name = QString::fromStdString(ScaleDisplayName(Scale)) + QStringLiteral(": ");
    try {
        const TUploadResult Result =
            UploadLabel(Scale.Host, ChooseBindAddress(Scale.Host, AdapterIp), DigiScalePort(Scale),
                        TimeoutMs, Folder);
        return {Name + QString::fromStdString(Result.Message), false};
    } catch (const std::exception& Error) {
        LogError("label ip=" + Scale.Host + " " + Error.what());
        return {Name + QStringLiteral("Файл этикетки не читается"), true};
    }
}

TWaitCursor::TWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TWaitCursor::~TWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

} // namespace Plumeria
