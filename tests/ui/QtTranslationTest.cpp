// Qt's own texts in Russian: with the catalogue installed as the program installs it at start,
// the program's question box offers "Да", "Нет" and "Отмена", and the edit menu of a text field
// speaks Russian too.

#include "UiSandbox.h"

#include "ui/Common/MessageBox.h"
#include "ui/Common/QtTranslation.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

/// A button caption as the user reads it: without the mnemonic marker.
QString Shown(const QString& Caption)
{
    QString Text = Caption;
    return Text.remove(QLatin1Char('&'));
}

} // namespace

class TQtTranslationTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(InstallQtTranslation(*QCoreApplication::instance())); }

    void QuestionBoxButtonsAreRussian()
    {
        const struct
        {
            QMessageBox::StandardButton Button;
            const char* Caption;
        } Cases[] = {
            {QMessageBox::Yes, "Да"},
            {QMessageBox::No, "Нет"},
            {QMessageBox::Cancel, "Отмена"},
        };
        QStringList Captions;
        QMessageBox::StandardButton Answer = QMessageBox::NoButton;
        const bool Driven = DriveModal<QMessageBox>(
            [&] {
                Answer = ShowMessageBox(nullptr, QStringLiteral("Сохранить изменения?"),
                                        QStringLiteral("PlumeriaBridge"), TMessageIcon::miQuestion,
                                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            },
            [&](QMessageBox& Box) {
                for (const auto& Case : Cases) {
                    QAbstractButton* Button = Box.button(Case.Button);
                    Captions << (Button ? Shown(Button->text()) : QStringLiteral("(none)"));
                }
                QTest::mouseClick(Box.button(QMessageBox::No), Qt::LeftButton);
            });
        QVERIFY(Driven);
        QCOMPARE(Answer, QMessageBox::No);
        QStringList Expected;
        for (const auto& Case : Cases)
            Expected << QString::fromUtf8(Case.Caption);
        QCOMPARE(Captions, Expected);
    }

    void EditMenuOfATextFieldIsRussian()
    {
        QLineEdit Edit(QStringLiteral("Весы"));
        const std::unique_ptr<QMenu> Menu(Edit.createStandardContextMenu());
        QStringList Entries;
        for (const QAction* Action : Menu->actions())
            if (!Action->isSeparator())
                Entries << Shown(Action->text()).section(QLatin1Char('\t'), 0, 0);
        QVERIFY2(Entries.contains(QStringLiteral("Копировать")), qPrintable(Entries.join(u'|')));
        QVERIFY2(Entries.contains(QStringLiteral("Вставить")), qPrintable(Entries.join(u'|')));
        QVERIFY2(!Entries.contains(QStringLiteral("Copy")), qPrintable(Entries.join(u'|')));
    }
};

QTEST_MAIN(TQtTranslationTest)
#include "QtTranslationTest.moc"
