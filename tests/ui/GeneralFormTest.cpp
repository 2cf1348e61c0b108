// The general settings dialog driven through its controls, offscreen: what it collects from the
// typed values, a time-out it refuses, the live journal level taken back on every close but
// "Сохранить", the adapter list with the system's choice and a missing adapter, the folder
// picker and help buttons, and the main window applying what it saved or saying it could not.

#include "UiSandbox.h"

#include "core/Journal/Journal.h"
#include "platform/Environment.h"
#include "support/ScaleNet.h"
#include "ui/Common/FolderPicker.h"
#include "ui/Common/MessageBox.h"
#include "ui/GeneralForm/GeneralForm.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

std::vector<TNetAdapter> TwoAdapters()
{
    return {{"192.168.1.5", "eth0"}, {"10.0.0.2", "Беспроводная сеть"}};
}

template <typename T> T* Find(const QWidget& Dialog, const char* Name)
{
    return Dialog.findChild<T*>(QString::fromLatin1(Name));
}

// A dialog loaded from `Source` whose "Сохранить" was pressed after `Edit`; what it collected.
TLoaderSettings SavedAfter(const TLoaderSettings& Source,
                           const std::function<void(TfrmGeneral&)>& Edit)
{
    TfrmGeneral Dialog(nullptr, TwoAdapters);
    Dialog.LoadFrom(Source);
    Dialog.show();
    Edit(Dialog);
    QTest::mouseClick(Find<QPushButton>(Dialog, "btnSave"), Qt::LeftButton);
    TLoaderSettings Collected = Source;
    if (Dialog.result() == QDialog::Accepted)
        Dialog.Collect(Collected);
    return Collected;
}

} // namespace

class TGeneralFormTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { FBox = std::make_unique<TUiSandbox>(); }
    void cleanup()
    {
        FBox.reset();
        SetLogLevel(TLogLevel::llMaximum);
    }

    void TheTimeOutTakesDigitsAndRefusesWhatItCannotStore_data()
    {
        QTest::addColumn<QString>("Typed");
        QTest::addColumn<QString>("Shown");
        QTest::addColumn<int>("Stored"); // -1: refused, the dialog stays open
        QTest::newRow("spaces around") << " 250 "
                                       << "250" << 250;
        QTest::newRow("lowest") << "100"
                                << "100" << 100;
        QTest::newRow("highest") << "3000"
                                 << "3000" << 3000;
        QTest::newRow("below 100") << "99"
                                   << "99" << -1;
        QTest::newRow("above 3000") << "3001"
                                    << "3001" << -1;
        QTest::newRow("letters never get in") << "abc"
                                              << "" << -1;
        QTest::newRow("letters among digits") << "7a5b0"
                                              << "750" << 750;
        QTest::newRow("empty") << ""
                               << "" << -1;
    }
    void TheTimeOutTakesDigitsAndRefusesWhatItCannotStore()
    {
        QFETCH(QString, Typed);
        QFETCH(QString, Shown);
        QFETCH(int, Stored);
        TLoaderSettings Source;
        Source.ConnectTimeoutMs = 1234;
        TakeShownMessages();
        const TLoaderSettings Saved = SavedAfter(Source, [&](TfrmGeneral& Dialog) {
            auto* Timeout = Find<QLineEdit>(Dialog, "edtTimeout");
            QCOMPARE(Timeout->text(), QStringLiteral("1234"));
            TypeText(Timeout, Typed);
            QCOMPARE(Timeout->text(), Shown);
            if (Stored < 0)
                PresetMessageAnswer(QMessageBox::Ok);
        });
        const std::vector<TShownMessage> Messages = TakeShownMessages();
        if (Stored >= 0) {
            QCOMPARE(Saved.ConnectTimeoutMs, Stored);
            QVERIFY(Messages.empty());
            return;
        }
        QCOMPARE(Saved.ConnectTimeoutMs, 1234); // not saved
        QCOMPARE(Messages.size(), std::size_t{1});
        QCOMPARE(Messages[0].Text, QStringLiteral("Таймаут — число от 100 до 3000 мс"));
        QCOMPARE(Messages[0].Caption, QStringLiteral("Основные"));
    }

    void FolderAndMaskAreTrimmedAndAnEmptyMaskDefaulted()
    {
        TLoaderSettings Source;
        Source.AutoUpdate = false;
        Source.RunWithWindows = true;
        const TLoaderSettings Saved = SavedAfter(Source, [](TfrmGeneral& Dialog) {
            QVERIFY(!Find<QCheckBox>(Dialog, "chkAutoUpdate")->isChecked());
            TypeText(Find<QLineEdit>(Dialog, "edtWatch"), QStringLiteral("  /srv/Обмен\t"));
            TypeText(Find<QLineEdit>(Dialog, "edtMask"), QStringLiteral("   "));
            Find<QCheckBox>(Dialog, "chkAutoUpdate")->click();
            Find<QCheckBox>(Dialog, "chkRunWithWindows")->click();
        });
        QCOMPARE(Saved.WatchFolder, std::string("/srv/Обмен"));
        QCOMPARE(Saved.FileMask, std::string("*.csv;*.txt"));
        QVERIFY(Saved.AutoUpdate);
        QVERIFY(!Saved.RunWithWindows);
    }

    void TheJournalLevelIsLiveAndTakenBackUnlessSaved_data()
    {
        QTest::addColumn<QString>("Close");
        QTest::addColumn<bool>("Kept");
        QTest::newRow("Сохранить") << "btnSave" << true;
        QTest::newRow("Отмена") << "btnCancel" << false;
        QTest::newRow("Esc") << "" << false;
    }
    void TheJournalLevelIsLiveAndTakenBackUnlessSaved()
    {
        QFETCH(QString, Close);
        QFETCH(bool, Kept);
        TLoaderSettings Source;
        Source.LogLevel = TLogLevel::llMaximum;
        SetLogLevel(TLogLevel::llErrors);
        TfrmGeneral Dialog(nullptr, TwoAdapters);
        Dialog.LoadFrom(Source);
        QCOMPARE(GetLogLevel(), TLogLevel::llMaximum); // the loaded level applies at once
        Dialog.show();
        auto* Level = Find<QComboBox>(Dialog, "cmbLog");
        QCOMPARE(Level->currentText(), QStringLiteral("Максимум"));
        Level->setFocus();
        QTest::keyClick(Level, Qt::Key_Down);
        QCOMPARE(Level->currentText(), QStringLiteral("Только ошибки"));
        QCOMPARE(GetLogLevel(), TLogLevel::llErrors); // live, before any close

        if (Close.isEmpty())
            QTest::keyClick(&Dialog, Qt::Key_Escape);
        else
            QTest::mouseClick(Find<QPushButton>(Dialog, Close.toLatin1().constData()),
                              Qt::LeftButton);
        QVERIFY(!Dialog.isVisible());
        QCOMPARE(GetLogLevel(), Kept ? TLogLevel::llErrors : TLogLevel::llMaximum);
        if (Kept) {
            TLoaderSettings Collected;
            Dialog.Collect(Collected);
            QCOMPARE(Collected.LogLevel, TLogLevel::llErrors);
        }
    }

    void TheSystemsChoiceIsAnEntryOfItsOwnAndKept()
    {
        TLoaderSettings Source;
        Source.AdapterIp.clear();
        TLoaderSettings Saved = SavedAfter(Source, [](TfrmGeneral& Dialog) {
            auto* List = Find<QComboBox>(Dialog, "cmbAdapter");
            QCOMPARE(List->count(), 3);
            QCOMPARE(List->itemText(0), QStringLiteral("Выбирает система"));
            QCOMPARE(List->itemText(1), QStringLiteral("192.168.1.5  eth0"));
            QCOMPARE(List->itemText(2), QStringLiteral("10.0.0.2  Беспроводная сеть"));
            QCOMPARE(List->currentIndex(), 0);
        });
        QCOMPARE(Saved.AdapterIp, std::string());

        Source.AdapterIp = "10.0.0.2";
        Saved = SavedAfter(Source, [](TfrmGeneral& Dialog) {
            QCOMPARE(Find<QComboBox>(Dialog, "cmbAdapter")->currentIndex(), 2);
        });
        QCOMPARE(Saved.AdapterIp, std::string("10.0.0.2"));

        // Going back to the system's choice stores no adapter.
        Saved = SavedAfter(Source, [](TfrmGeneral& Dialog) {
            Find<QComboBox>(Dialog, "cmbAdapter")->setCurrentIndex(0);
        });
        QCOMPARE(Saved.AdapterIp, std::string());
        QCOMPARE(CountJournal("WARN", "adapter"), 0);
    }

    void AStoredAdapterThatIsGoneIsMarkedKeptAndJournalledOnce()
    {
        TLoaderSettings Source;
        Source.AdapterIp = "10.0.0.5";
        const TLoaderSettings Saved = SavedAfter(Source, [](TfrmGeneral& Dialog) {
            auto* List = Find<QComboBox>(Dialog, "cmbAdapter");
            QCOMPARE(List->count(), 4);
            QCOMPARE(List->itemText(0), QStringLiteral("Выбирает система"));
            QCOMPARE(List->itemText(1), QStringLiteral("10.0.0.5  (не найден)"));
            QCOMPARE(List->currentIndex(), 1);
        });
        QCOMPARE(Saved.AdapterIp, std::string("10.0.0.5"));
        QCOMPARE(JournalTexts("WARN"),
                 std::vector<std::string>{"adapter 10.0.0.5 not found among the local adapters"});
    }

    void NothingIsClippedOrOverlapping()
    {
        TfrmGeneral Dialog(nullptr, TwoAdapters);
        Dialog.LoadFrom(TLoaderSettings());
        Dialog.show();
        QCOMPARE(Dialog.size(), QSize(640, 468));
        const QString Fault = LayoutFault(Dialog);
        QVERIFY2(Fault.isEmpty(), qPrintable(Fault));
        Dialog.reject();
    }

    void TheLinkMethodIsFixedAndTheHelpButtonsOpenTheirPages()
    {
        TfrmGeneral Dialog(nullptr, TwoAdapters);
        Dialog.LoadFrom(TLoaderSettings());
        QCOMPARE(Dialog.windowTitle(), QStringLiteral("Основные"));
        auto* Link = Find<QComboBox>(Dialog, "cmbLink");
        QVERIFY(!Link->isEnabled());
        QCOMPARE(Link->count(), 1);
        QCOMPARE(Link->currentText(), QStringLiteral("не задан"));
        for (const char* Help : {"btnHelpWork", "btnHelpLink", "btnHelpFiles"})
            Find<QPushButton>(Dialog, Help)->click();
        QCOMPARE(FBox->Opened.size(), std::size_t{3});
        QVERIFY(FBox->Opened[0].toString().endsWith(QStringLiteral("/general.html#work")));
        QVERIFY(FBox->Opened[1].toString().endsWith(QStringLiteral("/general.html#link")));
        QVERIFY(FBox->Opened[2].toString().endsWith(QStringLiteral("/general.html#files")));
        QCOMPARE(Find<QPushButton>(Dialog, "btnHelpLink")->toolTip(),
                 QStringLiteral("Связь с Кварта-Лаб"));
    }

    void BrowseTakesTheChosenFolderAndKeepsTheTextOnCancel()
    {
        TLoaderSettings Source;
        Source.WatchFolder = PathToUtf8(FBox->Folder("Обмен"));
        TfrmGeneral Dialog(nullptr, TwoAdapters);
        Dialog.LoadFrom(Source);
        auto* Watch = Find<QLineEdit>(Dialog, "edtWatch");
        PresetFolderAnswer(std::nullopt);
        Find<QPushButton>(Dialog, "btnBrowse")->click();
        QCOMPARE(Watch->text(), QString::fromStdString(Source.WatchFolder));
        PresetFolderAnswer(QStringLiteral("/srv/Новая"));
        Find<QPushButton>(Dialog, "btnBrowse")->click();
        QCOMPARE(Watch->text(), QStringLiteral("/srv/Новая"));
        PresetFolderAnswer(std::nullopt);
        Find<QPushButton>(Dialog, "btnBrowse")->click();
        QCOMPARE(Watch->text(), QStringLiteral("/srv/Новая"));

        const std::vector<TShownFolderPicker> Shown = TakeShownFolderPickers();
        QCOMPARE(Shown.size(), std::size_t{3});
        QCOMPARE(Shown[0].Title, QStringLiteral("Папка файлов"));
        QCOMPARE(Shown[0].Start, QString::fromStdString(Source.WatchFolder));
        QVERIFY(Shown[0].AllowCreate);
        QCOMPARE(Shown[2].Start, QString()); // a folder that does not exist: no selection
    }

    void TheMainWindowSavesWhatTheDialogCollected()
    {
        TLoaderSettings Initial;
        Initial.RunWithWindows = false;
        Initial.AutoUpdate = false;
        Initial.Save();
        TfrmMain Window(FBox->Options());
        QAction* Entry = Window.TrayMenu()->actions()[1];
        QCOMPARE(Entry->text(), QStringLiteral("Основные"));

        // Cancelled: nothing is saved.
        QVERIFY(DriveModal<TfrmGeneral>([&] { Entry->trigger(); },
                                        [](TfrmGeneral& Dialog) {
                                            TypeText(Find<QLineEdit>(Dialog, "edtTimeout"),
                                                     QStringLiteral("700"));
                                            Find<QPushButton>(Dialog, "btnCancel")->click();
                                        }));
        TLoaderSettings Loaded;
        Loaded.Load();
        QCOMPARE(Loaded.ConnectTimeoutMs, 500);

        const std::string Watched = PathToUtf8(FBox->Folder("Обмен"));
        QVERIFY(DriveModal<TfrmGeneral>(
            [&] { Entry->trigger(); },
            [&](TfrmGeneral& Dialog) {
                TypeText(Find<QLineEdit>(Dialog, "edtTimeout"), QStringLiteral("700"));
                TypeText(Find<QLineEdit>(Dialog, "edtWatch"), QString::fromStdString(Watched));
                Find<QPushButton>(Dialog, "btnSave")->click();
            }));
        Loaded.Load();
        QCOMPARE(Loaded.ConnectTimeoutMs, 700);
        QCOMPARE(Loaded.WatchFolder, Watched);
        QCOMPARE(Window.Settings()->ConnectTimeoutMs, 700);
        QVERIFY(Window.Watch() != nullptr); // restarted on the new folder
        QVERIFY(JournalText().find("| INFO | settings saved") != std::string::npos);
    }

    void AFailedSaveIsSaidInTheDialogsWordsAndNotJournalledAsSaved()
    {
        TLoaderSettings Initial;
        Initial.RunWithWindows = false;
        Initial.AutoUpdate = false;
        Initial.Save();
        TfrmMain Window(FBox->Options());
        QSignalSpy Balloons(&Window, &TfrmMain::BalloonShown);
        // A folder where the file should be: no rights trick, so it holds for any user.
        std::filesystem::remove(FBox->SettingsFile());
        std::filesystem::create_directory(FBox->SettingsFile());
        TakeShownMessages();
        PresetMessageAnswer(QMessageBox::Ok);
        QVERIFY(DriveModal<TfrmGeneral>([&] { Window.ShowGeneralDialog(); },
                                        [](TfrmGeneral& Dialog) {
                                            TypeText(Find<QLineEdit>(Dialog, "edtTimeout"),
                                                     QStringLiteral("700"));
                                            Find<QPushButton>(Dialog, "btnSave")->click();
                                        }));
        QVERIFY(JournalText().find("| ERROR | cannot save settings: ") != std::string::npos);
        QVERIFY(JournalText().find("settings saved") == std::string::npos);
        const std::vector<TShownMessage> Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), std::size_t{1});
        QVERIFY2(Shown[0].Text.startsWith(QStringLiteral("Настройки не сохранены: не удалось "
                                                         "записать файл ")),
                 qPrintable(Shown[0].Text));
        QVERIFY(Shown[0].Text.contains(QStringLiteral("settings.ini")));
        QCOMPARE(Shown[0].Caption, QStringLiteral("Основные"));
        QVERIFY(Shown[0].Icon == TMessageIcon::miError);
        QCOMPARE(Balloons.count(), 0);
        QCOMPARE(Window.Settings()->ConnectTimeoutMs, 700); // kept for the next save
    }

private:
    std::unique_ptr<TUiSandbox> FBox;
};

QTEST_MAIN(TGeneralFormTest)
#include "GeneralFormTest.moc"
