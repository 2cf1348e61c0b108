#include "ui/Common/DeliveryText.h"

#include "ui/Common/Controls.h"

namespace Plumeria {

namespace {

QString FilesNoun(std::size_t Count)
{
    const std::size_t LastTwo = Count % 100;
    const std::size_t Last = Count % 10;
    if (Last == 1 && LastTwo != 11)
        return QStringLiteral("файл");
    if (Last >= 2 && Last <= 4 && (LastTwo < 12 || LastTwo > 14))
        return QStringLiteral("файла");
    return QStringLiteral("файлов");
}

QString ResultWords(const TScaleDelivery& Delivery)
{
    switch (Delivery.LastResult) {
    case TDeliveryResult::drNone:
        return {};
    case TDeliveryResult::drSent:
        return Delivery.Articles > 0
                   ? QStringLiteral("отправлено, %1 PLU").arg(QString::number(Delivery.Articles))
                   : QStringLiteral("отправлено");
    case TDeliveryResult::drNotSent:
        return QStringLiteral("не отправлено: нет протокола для этой марки весов");
    case TDeliveryResult::drFailed:
        break;
    }
    return Delivery.LastError.empty() ? QStringLiteral("ошибка") : QtText(Delivery.LastError);
}

} // namespace

QString WaitingFilesText(std::size_t Count)
{
    return QStringLiteral("ждёт %1 %2").arg(QString::number(Count), FilesNoun(Count));
}

QString LastDeliveryText(const TScaleState& State)
{
    const TScaleDelivery& Delivery = State.Delivery;
    if (Delivery.LastFile.empty() && Delivery.LastTime.empty())
        return {};
    if (Delivery.LastTime.empty())
        return QtText(Delivery.LastFile);
    return QtText(Delivery.LastTime) + QLatin1Char(' ') + QtText(Delivery.LastFile);
}

QString DeliveryResultText(const TScaleState& State)
{
    if (State.Missing == 0)
        return ResultWords(State.Delivery);
    QString Text = WaitingFilesText(State.Missing);
    // Why the files wait is the last failure; an older success says nothing about them.
    if (State.Delivery.LastResult == TDeliveryResult::drFailed && !State.Delivery.LastError.empty())
        Text += QStringLiteral(" (") + QtText(State.Delivery.LastError) + QLatin1Char(')');
    return Text;
}

QString ScaleSendText(const TScaleProgress& Scale)
{
    if (Scale.Total == 0)
        return QStringLiteral("отправка");
    return QStringLiteral("отправка %1/%2")
        .arg(QString::number(Scale.Sent), QString::number(Scale.Total));
}

QString SendSummaryText(const TSendProgress& Progress)
{
    if (Progress.FileName.empty())
        return {};
    std::size_t Sent = 0;
    std::size_t Total = 0;
    for (const TScaleProgress& Scale : Progress.Scales) {
        Sent += Scale.Sent;
        Total += Scale.Total;
    }
    return QStringLiteral("Отправка %1: %2 весов, %3/%4")
        .arg(QtText(Progress.FileName), QString::number(Progress.Scales.size()),
             QString::number(Sent), QString::number(Total));
}

const TScaleProgress* FindScaleProgress(const TSendProgress& Progress, const TScaleConfig& Scale)
{
    const int Port = PortInUse(Scale);
    for (const TScaleProgress& Part : Progress.Scales)
        if (Part.Host == Scale.Host && Part.Port == Port)
            return &Part;
    return nullptr;
}

} // namespace Plumeria
