// How the windows word a scale's delivery: the Russian count of waiting files, the last file and
// its time, the result (sent with its count, the error, not sent, waiting files first), one
// scale's part of a file and the one line of the notification icon's tooltip.

#include "ui/Common/DeliveryText.h"

#include "UiSandbox.h"

#include <QTest>

using namespace Plumeria;
using Plumeria::Test::Part;

namespace {

TScaleState State(TDeliveryResult Result, std::size_t Articles, const char* Error,
                  std::size_t Missing)
{
    TScaleState State;
    State.Delivery.Host = "127.0.0.5";
    State.Delivery.Port = 2005;
    State.Delivery.LastFile = "prices.csv";
    State.Delivery.LastTime = "2026-12-11 10:15:02";
    State.Delivery.Articles = Articles;
    State.Delivery.LastResult = Result;
    State.Delivery.LastError = Error;
    State.Missing = Missing;
    return State;
}

} // namespace

class TDeliveryTextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void TheWaitingCountTakesItsRussianForm()
    {
        const struct
        {
            std::size_t Count;
            const char* Text;
        } Cases[] = {
            {1, "ждёт 1 файл"},       {2, "ждёт 2 файла"},       {4, "ждёт 4 файла"},
            {5, "ждёт 5 файлов"},     {11, "ждёт 11 файлов"},    {12, "ждёт 12 файлов"},
            {14, "ждёт 14 файлов"},   {21, "ждёт 21 файл"},      {22, "ждёт 22 файла"},
            {25, "ждёт 25 файлов"},   {101, "ждёт 101 файл"},    {111, "ждёт 111 файлов"},
            {112, "ждёт 112 файлов"}, {1004, "ждёт 1004 файла"},
        };
        for (const auto& Case : Cases)
            QCOMPARE(WaitingFilesText(Case.Count), QString::fromUtf8(Case.Text));
    }

    void TheResultSaysHowTheLastFileEnded()
    {
        using enum TDeliveryResult;
        const struct
        {
            TScaleState State;
            const char* Text;
        } Cases[] = {
            {State(drSent, 1200, "", 0), "отправлено, 1200 PLU"},
            {State(drSent, 0, "", 0), "отправлено"},
            {State(drNotSent, 27, "", 0), "не отправлено: нет протокола для этой марки весов"},
            {State(drFailed, 5, "scale did not accept the connection", 0),
             "scale did not accept the connection"},
            {State(drFailed, 5, "", 0), "ошибка"},
            // Waiting files come first, with the failure that keeps them waiting.
            {State(drFailed, 5, "scale did not accept the connection", 1),
             "ждёт 1 файл (scale did not accept the connection)"},
            {State(drFailed, 5, "", 3), "ждёт 3 файла"},
            // A later success does not explain the files still waiting.
            {State(drSent, 5, "", 6), "ждёт 6 файлов"},
            {TScaleState{}, ""},
        };
        for (const auto& Case : Cases)
            QCOMPARE(DeliveryResultText(Case.State), QString::fromUtf8(Case.Text));
    }

    void TheLastDeliveryIsItsTimeAndFile()
    {
        QCOMPARE(LastDeliveryText(State(TDeliveryResult::drSent, 1, "", 0)),
                 QStringLiteral("2026-12-11 10:15:02 prices.csv"));
        TScaleState Russian = State(TDeliveryResult::drSent, 1, "", 0);
        Russian.Delivery.LastFile = "цены.csv";
        QCOMPARE(LastDeliveryText(Russian), QStringLiteral("2026-12-11 10:15:02 цены.csv"));
        QCOMPARE(LastDeliveryText(TScaleState{}), QString());
    }

    void TheFileBeingSentFitsOneLine()
    {
        TSendProgress Progress;
        QCOMPARE(SendSummaryText(Progress), QString());
        Progress.FileName = "prices.csv";
        Progress.Scales = {Part("127.0.0.1", 2001, "Весы 1", 700, 2000),
                           Part("127.0.0.2", 2002, "Весы 2", 500, 2000),
                           Part("127.0.0.3", 2003, "Весы 3", 0, 1000)};
        QCOMPARE(SendSummaryText(Progress),
                 QStringLiteral("Отправка prices.csv: 3 весов, 1200/5000"));
        QCOMPARE(ScaleSendText(Progress.Scales[0]), QStringLiteral("отправка 700/2000"));
        QCOMPARE(ScaleSendText(Part("127.0.0.4", 2004, "Весы 4", 0, 0)),
                 QStringLiteral("отправка"));
    }

    void AScalesPartIsFoundByHostAndThePortInUse()
    {
        TSendProgress Progress;
        Progress.FileName = "prices.csv";
        Progress.Scales = {Part("127.0.0.15", 2015, "Весы", 3, 9),
                           Part("127.0.0.16", 2100, "", 1, 9)};
        TScaleConfig Default;
        Default.Kind = TScaleKind::skDigi;
        Default.Host = "127.0.0.15";
        Default.Port = 0; // worked out: 2015
        QCOMPARE(FindScaleProgress(Progress, Default), &Progress.Scales[0]);
        TScaleConfig Other = Default;
        Other.Host = "127.0.0.16";
        QVERIFY(FindScaleProgress(Progress, Other) == nullptr); // 2016 is not 2100
        Other.Port = 2100;
        QCOMPARE(FindScaleProgress(Progress, Other), &Progress.Scales[1]);
    }
};

QTEST_MAIN(TDeliveryTextTest)
#include "DeliveryTextTest.moc"
