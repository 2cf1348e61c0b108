#include "ui/LabelForm/LabelSend.h"

#include "core/Digi/LabelUpload.h"
#include "core/DigiSearch/SubnetScan.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "core/Settings/Settings.h"
#include "platform/Environment.h"

#include <QApplication>
#include <QDir>
#include <QStringList>

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

QString NativePathText(const std::filesystem::path& Path)
{
    return QDir::toNativeSeparators(QString::fromStdString(PathToUtf8(Path)));
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

QString MissingLabelFilesText(const std::filesystem::path& Folder)
{
    const std::vector<std::string> Missing = MissingLabelFiles(Folder);
    if (Missing.empty())
        return {};
    QStringList Names;
    for (const std::string& Name : Missing)
        Names << QString::fromStdString(Name);
    return (Missing.size() == 1 ? QStringLiteral("Нет файла ") : QStringLiteral("Нет файлов ")) +
           Names.join(QStringLiteral(", ")) + QStringLiteral(" в папке ") + NativePathText(Folder) +
           QStringLiteral(": этикетка не отправлена");
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
