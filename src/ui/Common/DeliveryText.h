#pragma once
// How the windows word the delivery engine's state: what a scale last got and when, how that
// ended or how many missed files it still waits for, and the file being sent, per scale and in
// the one line the notification icon's tooltip has room for.

#include "core/Delivery/DeliveryEngine.h"

#include <QString>

#include <cstddef>

namespace Plumeria {

/// "ждёт 1 файл", "ждёт 3 файла", "ждёт 5 файлов": the count with the noun in its Russian form.
QString WaitingFilesText(std::size_t Count);

/// "yyyy-mm-dd hh:nn:ss FILE" of the scale's last delivery; empty when it has none.
QString LastDeliveryText(const TScaleState& State);

/// The outcome of the scale's last delivery: "отправлено, N PLU", the error text, "не
/// отправлено"; while missed files wait, their count first (with the error in brackets). Empty
/// when nothing was given to the scale yet.
QString DeliveryResultText(const TScaleState& State);

/// One scale's part of the file being sent: "отправка 1200/5000" ("отправка" before its count of
/// articles is known).
QString ScaleSendText(const TScaleProgress& Scale);

/// The file being sent in one line: "Отправка prices.csv: 3 весов, 1200/5000" (the scales, the
/// articles acknowledged and to send, summed over them); empty when nothing is sent.
QString SendSummaryText(const TSendProgress& Progress);

/// The part of the file's progress that belongs to the scale (host and port in use), or null.
const TScaleProgress* FindScaleProgress(const TSendProgress& Progress, const TScaleConfig& Scale);

} // namespace Plumeria
