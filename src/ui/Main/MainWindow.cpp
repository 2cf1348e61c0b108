#include "ui/Main/MainWindow.h"

#include "core/FolderWatch/FolderWatch.h"
#include "core/Journal/Journal.h"
#include "core/Settings/Settings.h"
#include "core/Settings/StartUp.h"
#include "core/Text/Text.h"
#include "core/Update/Update.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/SingleInstance.h"
#include "ui/Common/Desktop.h"
#include "ui/Common/MessageBox.h"
#include "ui/GeneralForm/GeneralForm.h"
#include "ui/Icons/Icons.h"
#include "ui/Main/Help.h"
#include "ui/ScalesForm/ScalesForm.h"
#include "ui/UiText/UiText.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QMenu>
#include <QMetaObject>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

namespace Plumeria {

namespace {

constexpr int MaxRecentLines = 50;

QString Q(const std::string& Utf8)
{
    return QString::fromStdString(Utf8);
}

QString TwoDigits(int Value)
{
    return QStringLiteral("%1").arg(Value, 2, 10, QLatin1Char('0'));
}

} // namespace

TfrmMain::TfrmMain(TMainOptions Options, QWidget* Parent)
    : QWidget(Parent), FOptions(std::move(Options))
{
    CreateControls();
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    FormDestroy();
}

void TfrmMain::FormCreate()
{
    FAllowClose = false;
    FPaused = false;
    FRecent.clear();

    // Only this window's title: an application display name would be appended by Qt to the
    // title of every other window and box.
    setWindowTitle(UiAppTitle());
    btnHelp->setToolTip(UiHelp());

    // One instance per logon, and one watcher per data folder (`plumeria run` included).
    const bool Single = AcquireSingleInstance();
    if (Single)
        FStarted = true;
    const auto EndAsSecondInstance = [this] {
        ShowMessageBox(nullptr, QStringLiteral("PlumeriaBridge is already running."),
                       QStringLiteral("PlumeriaBridge"), TMessageIcon::miInformation);
        FAllowClose = true;
        FEndRequested = true;
    };
    if (!Single || !AcquireWatchLock()) {
        EndAsSecondInstance();
        return;
    }

    RemovePreviousBackup();
    // Holding both locks is a good start: an update that started us waits for this word.
    ReportStartedWell();

    FSettings = std::make_unique<TLoaderSettings>();
    const TStartReport Start = StartWithSettings(*FSettings, &ApplyAutostart);

    const bool WatchLocked = !HeldDataFolderLock().empty();
    const bool Replaced = FOptions.CheckForUpdate ? FOptions.CheckForUpdate(FSettings->AutoUpdate)
                                                  : CheckForUpdate(FSettings->AutoUpdate);
    if (Replaced) {
        ReleaseDataFolderLock();
        ReleaseSingleInstance();
        FAllowClose = true;
        FEndRequested = true;
        return;
    }
    // An update that was undone lets the locks go for a while; another program that took one
    // meanwhile is the one running now (the update journalled which lock was lost).
    if (!SingleInstanceHeld() || (WatchLocked && HeldDataFolderLock().empty())) {
        EndAsSecondInstance();
        return;
    }

    BuildTrayMenu();
    if (!Start.DataFolderFallback.empty())
        ShowDataFolderTrouble(Start.DataFolderFallback);
    SetupScaleList();
    // Settings that could not be read say nothing about the scales: their records stay.
    StartDelivery(Start.SettingsRead);
    StartWatch();
    RefreshView();

    // Without a notification area the window is the only way to reach the program.
    if (!TrayAvailable())
        ShowMainWindow();
}

void TfrmMain::FormDestroy()
{
    // The engine's worker reports to this window and tells the watch about its files: it ends
    // before either.
    StopDelivery();
    StopWatch();
    FRecent.clear();
    FSettings.reset();
    // The icon refers to the menu; it goes first.
    delete FTray;
    FTray = nullptr;
    FPauseItem = nullptr;
    FMenu.reset();
    if (FStarted) {
        ReleaseDataFolderLock();
        ReleaseSingleInstance();
    }
}

bool TfrmMain::AcquireWatchLock()
{
    // The same wait as for the instance lock: an updated program's old process lets both go
    // right before it ends.
    switch (AcquireDataFolderLock(DataFolder(), SingleInstanceWaitMs)) {
    case TFolderLockResult::flTaken:
        return true;
    case TFolderLockResult::flBusy:
        return false;
    case TFolderLockResult::flFailed:
        break;
    }
    LogWarn("cannot lock the data folder for watching: " + PathToUtf8(DataFolder()));
    return true;
}

bool TfrmMain::TrayAvailable() const
{
    return FOptions.TrayAvailable.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void TfrmMain::StartDelivery(bool ScalesKnown)
{
    TDeliveryOptions Options;
    Options.DataFolder = DataFolder();
    try {
        FEngine = std::make_unique<TDeliveryEngine>(Poster(), *this, this, std::move(Options));
        FEngine->SetSettings(*FSettings, ScalesKnown);
    } catch (const std::exception& Error) {
        LogError(std::string("cannot start the delivery: ") + Error.what());
    }
}

void TfrmMain::StopDelivery()
{
    // The exchanges at hand end at their next article; the file stays for its next turn.
    FEngine.reset();
    FProgress = {};
}

void TfrmMain::StartWatch()
{
    StopWatch();
    if (FPaused || !FSettings || !FEngine)
        return;
    // Ready files arrive on this thread; the engine sends them on its worker, oldest first.
    try {
        FWatch = std::make_unique<TFolderWatch>(
            Trim(FSettings->WatchFolder), FSettings->FileMask,
            [this](const std::string& FileName) {
                if (FEngine)
                    FEngine->Offer(FileName);
            },
            Poster());
        FEngine->Attach(FWatch.get());
    } catch (const std::exception& Error) {
        LogError(std::string("cannot start the folder watch: ") + Error.what());
    }
}

void TfrmMain::StopWatch()
{
    // The worker tells the watch when a file is done: it lets go of the watch first (the file at
    // hand ends at an article boundary and stays for the next watch), and files reported but not
    // taken yet are offered again by the next watch.
    if (FEngine)
        FEngine->Pause();
    std::unique_ptr<TFolderWatch> Taken = std::move(FWatch);
    FWatch.reset();
    Taken.reset(); // waits for the watch thread
}

bool TfrmMain::KeepWatchForSend() const
{
    if (!FWatch || !FEngine || FPaused || !FSettings)
        return false;
    return !FEngine->Progress().FileName.empty() &&
           FWatch->Directory() == Trim(FSettings->WatchFolder) &&
           FWatch->Mask() == FSettings->FileMask;
}

TPoster TfrmMain::Poster()
{
    return [this](TPostedCall Call) {
        QMetaObject::invokeMethod(this, std::move(Call), Qt::QueuedConnection);
    };
}

void TfrmMain::SettingsChanged()
{
    if (!ApplySettings())
        ShowBalloon(UiScales().toStdString(), "Настройки не сохранены");
}

bool TfrmMain::ApplySettings()
{
    if (!FSettings)
        return false;
    const bool Saved = SaveChangedSettings(*FSettings, &ApplyAutostart);
    // Settings that could not be read at start stay unknown however the copy here was edited.
    if (FEngine)
        FEngine->SetSettings(*FSettings, FSettings->Loaded());
    if (!FPaused && !KeepWatchForSend())
        StartWatch();
    RefreshView();
    return Saved;
}

bool TfrmMain::RaiseOpenDialog()
{
    // The menu stays reachable while a dialog is open; a second dialog over the first would
    // edit the same settings twice.
    QWidget* Open = QApplication::activeModalWidget();
    if (!Open)
        return false;
    Open->raise();
    Open->activateWindow();
    return true;
}

void TfrmMain::ShowGeneralDialog()
{
    if (!FSettings || RaiseOpenDialog())
        return;
    TfrmGeneral Dialog(this);
    Dialog.LoadFrom(*FSettings);
    if (Dialog.exec() != QDialog::Accepted)
        return;
    Dialog.Collect(*FSettings);
    if (ApplySettings()) {
        LogInfo("settings saved");
        return;
    }
    // The reason is in the journal ("cannot save settings: ..."); the user learns it from the
    // dialog they saved in, not from a balloon about scales.
    ShowMessageBox(this,
                   QStringLiteral("Настройки не сохранены: не удалось записать файл %1. "
                                  "Причина записана в журнал.")
                       .arg(QDir::toNativeSeparators(Q(PathToUtf8(FSettings->IniPath())))),
                   UiGeneral(), TMessageIcon::miError);
}

void TfrmMain::ShowScalesWindow()
{
    if (!FSettings || RaiseOpenDialog())
        return;
    TfrmScales Window(this);
    if (FEngine) {
        TScalesDelivery Delivery;
        Delivery.States = [this](const std::vector<TScaleConfig>& Scales) {
            return FEngine ? FEngine->States(Scales) : std::vector<TScaleState>(Scales.size());
        };
        Delivery.ResendNow = [this](const std::string& Host, int Port) {
            if (FEngine)
                FEngine->ResendNow(Host, Port);
        };
        Delivery.Progress = [this] { return FProgress; };
        Window.SetDelivery(std::move(Delivery));
    }
    FScalesWindow = &Window;
    Window.Execute(FSettings.get(), [this] { SettingsChanged(); });
    FScalesWindow = nullptr;
}

void TfrmMain::TogglePause()
{
    FPaused = !FPaused;
    if (!FPaused) {
        if (FPauseItem) {
            FPauseItem->setText(UiPause());
            FPauseItem->setIcon(SharedImages().Icon(siPause));
        }
        StartWatch();
        LogInfo("watch resumed");
        UpdateTrayLook();
    } else {
        StopWatch();
        if (FPauseItem) {
            FPauseItem->setText(UiResume());
            FPauseItem->setIcon(SharedImages().Icon(siPlay));
        }
        LogInfo("watch paused");
        UpdateTrayLook();
        ShowBalloon(UiScales().toStdString(), "Наблюдение приостановлено");
    }
}

void TfrmMain::ShowMainWindow()
{
    RefreshView();
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TfrmMain::RefreshView()
{
    ShowJournalTail();
    FillScaleList();
}

void TfrmMain::ProgressChanged(const TSendProgress& Progress)
{
    FProgress = Progress;
    ShowProgress();
    ShowDeliveryColumns();
    if (FScalesWindow)
        FScalesWindow->ProgressChanged(FProgress);
}

void TfrmMain::ScaleFinished(const std::string&, const TScaleProgress&)
{
    ReadDeliveryStates();
}

void TfrmMain::StatusChanged()
{
    ReadDeliveryStates();
    if (FScalesWindow)
        FScalesWindow->DeliveryChanged();
}

void TfrmMain::AddRecent(const std::string& Text)
{
    const TLocalDateTime Now = LocalNow();
    const QString Line = TwoDigits(Now.Hour) + QLatin1Char(':') + TwoDigits(Now.Minute) +
                         QLatin1Char(':') + TwoDigits(Now.Second) + QStringLiteral("  ") + Q(Text);
    FRecent.prepend(Line);
    while (FRecent.size() > MaxRecentLines)
        FRecent.removeLast();
    ShowRecent();
}

void TfrmMain::ShowBalloon(const std::string& Title, const std::string& Text)
{
    if (!FTray)
        return;
    FTray->showMessage(Q(Title), Q(Text), QSystemTrayIcon::Information);
    Q_EMIT BalloonShown(Q(Title), Q(Text));
}

QString TfrmMain::IdleTrayTip() const
{
    QString Tip = UiAppTitle();
    if (FPaused)
        Tip += QStringLiteral("\nНаблюдение приостановлено");
    if (!FDataFolderTrouble.isEmpty())
        Tip += QLatin1Char('\n') + FDataFolderTrouble;
    return Tip;
}

QIcon TfrmMain::TrayIconNow() const
{
    if (!FDataFolderTrouble.isEmpty())
        return style()->standardIcon(QStyle::SP_MessageBoxWarning);
    if (!FPaused)
        return FAppIcon;
    // The program's own icon with the pause sign in its lower right quarter, so that a paused
    // watch is seen at a glance in the notification area.
    QPixmap Paused = FAppIcon.pixmap(32, 32);
    if (Paused.isNull())
        Paused = QPixmap(32, 32);
    QPainter Painter(&Paused);
    Painter.drawImage(
        QRect(Paused.width() / 2, Paused.height() / 2, Paused.width() / 2, Paused.height() / 2),
        SharedImages().Image(siPause));
    Painter.end();
    return QIcon(Paused);
}

void TfrmMain::UpdateTrayLook()
{
    if (!FTray)
        return;
    FTray->setIcon(TrayIconNow());
    if (FProgress.FileName.empty())
        FTray->setToolTip(IdleTrayTip());
}

void TfrmMain::ShowDataFolderTrouble(const std::string& Fallback)
{
    // The settings and the journal now live beside the program, where nobody looks: a user who
    // is not told would wonder where the watched folder and the scales went.
    FDataFolderTrouble = QStringLiteral("Папка данных недоступна (%1). Настройки и журнал "
                                        "хранятся в папке программы: %2")
                             .arg(Q(Fallback), Q(PathToUtf8(DataFolder())));
    if (!FTray)
        return;
    UpdateTrayLook();
    FTray->showMessage(UiAppTitle(), FDataFolderTrouble, QSystemTrayIcon::Warning);
    Q_EMIT BalloonShown(UiAppTitle(), FDataFolderTrouble);
}

void TfrmMain::btnOpenLogClick()
{
    const std::filesystem::path Log = LogFilePath();
    std::error_code Ignored;
    const bool HaveFile = std::filesystem::exists(Log, Ignored);
    const QString Folder = Q(PathToUtf8(Log.parent_path()));
    if (OpenWithDefaultHandler(QUrl::fromLocalFile(HaveFile ? Q(PathToUtf8(Log)) : Folder)))
        return;
    // A machine without a program for ".log" files opens nothing at all: say so, and offer the
    // folder, where the file can be opened with any editor.
    QWidget* const Owner = isVisible() ? this : nullptr;
    if (HaveFile &&
        ShowMessageBox(Owner,
                       QStringLiteral("Не удалось открыть журнал %1: в системе нет программы для "
                                      "файлов .log.\n\nПоказать папку журнала?")
                           .arg(Q(PathToUtf8(Log))),
                       UiAppTitle(), TMessageIcon::miQuestion,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    if (!OpenWithDefaultHandler(QUrl::fromLocalFile(Folder)))
        ShowMessageBox(Owner, QStringLiteral("Не удалось открыть папку журнала %1.").arg(Folder),
                       UiAppTitle(), TMessageIcon::miWarning);
}

void TfrmMain::btnHelpClick()
{
    OpenHelp(QStringLiteral("index.html"));
}

void TfrmMain::ExitApplication()
{
    FAllowClose = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* Event)
{
    if (FAllowClose) {
        // Nothing is sent or watched once the program ends; the file at hand stays for the
        // next start.
        StopDelivery();
        StopWatch();
        Event->accept();
        Q_EMIT Ended();
        return;
    }
    Event->ignore();
    if (TrayAvailable()) {
        hide();
        if (FTray)
            FTray->show();
    } else {
        showMinimized();
    }
}

} // namespace Plumeria
