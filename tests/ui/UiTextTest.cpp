// The shared captions are the words the user reads in every window; one wrong accessor shows the
// wrong word everywhere, so each is checked against its text.

#include "ui/UiText/UiText.h"

#include <QTest>

#include <functional>

using namespace Plumeria;

using TAccessor = QString (*)();
Q_DECLARE_METATYPE(TAccessor)

class TUiTextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void Captions_data()
    {
        QTest::addColumn<TAccessor>("Accessor");
        QTest::addColumn<QString>("Expected");
        const auto Row = [](const char* Name, TAccessor Accessor, const char* Utf8) {
            QTest::newRow(Name) << Accessor << QString::fromUtf8(Utf8);
        };
        Row("UiAppTitle", &UiAppTitle, "Плюмерия");
        Row("UiGeneral", &UiGeneral, "Основные");
        Row("UiScales", &UiScales, "Весы");
        Row("UiScalesDigi", &UiScalesDigi, "Весы DIGI");
        Row("UiSave", &UiSave, "Сохранить");
        Row("UiCancel", &UiCancel, "Отмена");
        Row("UiClose", &UiClose, "Закрыть");
        Row("UiAdd", &UiAdd, "Добавить");
        Row("UiChange", &UiChange, "Изменить");
        Row("UiDelete", &UiDelete, "Удалить");
        Row("UiSearch", &UiSearch, "Поиск");
        Row("UiStop", &UiStop, "Стоп");
        Row("UiLabel", &UiLabel, "Этикетка");
        Row("UiLayout", &UiLayout, "Макет");
        Row("UiRefresh", &UiRefresh, "Обновить");
        Row("UiOpenJournal", &UiOpenJournal, "Открыть журнал");
        Row("UiPause", &UiPause, "Пауза");
        Row("UiResume", &UiResume, "Продолжить");
        Row("UiExit", &UiExit, "Выход");
        Row("UiStatus", &UiStatus, "Статус");
        Row("UiRecentFiles", &UiRecentFiles, "Последние файлы");
        Row("UiJournal", &UiJournal, "Журнал");
        Row("UiDone", &UiDone, "Готово");
        Row("UiBrowse", &UiBrowse, "Обзор");
        Row("UiHelp", &UiHelp, "Справка");
    }

    void Captions()
    {
        QFETCH(TAccessor, Accessor);
        QFETCH(QString, Expected);
        QCOMPARE(Accessor(), Expected);
    }

    void EachCallGivesItsOwnString()
    {
        QString First = UiExit();
        First[0] = QLatin1Char('X');
        QCOMPARE(UiExit(), QString::fromUtf8("Выход"));
    }

    void TextFromUtf16CopiesUpToTheLastIndexIncluded_data()
    {
        QTest::addColumn<int>("LastIndex");
        QTest::addColumn<QString>("Expected");
        QTest::newRow("whole") << 4 << QString::fromUtf8("Весы!");
        QTest::newRow("first only") << 0 << QString::fromUtf8("В");
        QTest::newRow("up to the fourth") << 3 << QString::fromUtf8("Весы");
        QTest::newRow("nothing") << -1 << QString();
    }

    void TextFromUtf16CopiesUpToTheLastIndexIncluded()
    {
        QFETCH(int, LastIndex);
        QFETCH(QString, Expected);
        static const char16_t Source[] = {u'В', u'е', u'с', u'ы', u'!', u'#'};
        QCOMPARE(TextFromUtf16(Source, LastIndex), Expected);
    }

    void TextFromUtf16KeepsSurrogatePairsAndZeros()
    {
        static const char16_t Source[] = {0xD83D, 0xDE00, 0x0000, u'a'};
        const QString Text = TextFromUtf16(Source, 3);
        QCOMPARE(Text.size(), 4);
        QCOMPARE(Text.at(0).unicode(), char16_t(0xD83D));
        QCOMPARE(Text.at(1).unicode(), char16_t(0xDE00));
        QCOMPARE(Text.at(2).unicode(), char16_t(0));
        QCOMPARE(Text.at(3), QLatin1Char('a'));
    }
};

QTEST_GUILESS_MAIN(TUiTextTest)
#include "UiTextTest.moc"
