#pragma once
// The main window of the tray program. It owns the settings, the folder watch and the delivery
// engine that processes every file the watch reports on a worker of its own, keeps the
// notification icon with its menu, and shows the recent files, the configured scales with what
// each last got, the file being sent, and the tail of today's journal. It stays hidden until
// asked for; closing it hides it again, and only the menu's exit entry ends the program.

#include "core/Delivery/DeliveryEngine.h"
#include "core/Processing/ProcessFile.h"

#include <QIcon>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;
class QTreeWidget;

namespace Plumeria {

class TLoaderSettings;
class TFolderWatch;
class TfrmScales;

/// What the program entry and the tests may choose about the shell; the defaults are the real
/// program's.
struct TMainOptions
{
    /// Whether the desktop has a notification area; nothing asks the desktop (at start and at
    /// each close). Without one the window is shown at start and closing only minimises it.
    std::optional<bool> TrayAvailable;
    /// The update check at start (true: a new executable was started, this process must end).
    /// Empty: the real one.
    std::function<bool(bool AutoUpdate)> CheckForUpdate;
};

class TfrmMain : public QWidget, public IProcessReporter, public IDeliveryObserver
{
    Q_OBJECT

public:
    /// Creates the window hidden and runs the start-up (single instance, settings, journal,
    /// update check, notification icon, watch). Check `EndRequested` afterwards.
    explicit TfrmMain(TMainOptions Options = {}, QWidget* Parent = nullptr);
    /// Stops the watch, frees the settings and releases the single-instance lock.
    ~TfrmMain() override;

    /// The start-up decided that the process ends at once with exit code 0 (another instance
    /// runs, or an update took over).
    bool EndRequested() const { return FEndRequested; }

    void AddRecent(const std::string& Text) override;
    void ShowBalloon(const std::string& Title, const std::string& Text) override;
    /// The notification icon's tooltip while nothing is sent.
    QString IdleTrayTip() const;
    /// The notification icon as things stand: a warning while the data folder fell back, the
    /// program's icon with a pause sign while the watch is paused, else the program's icon.
    QIcon TrayIconNow() const;
    void RefreshView() override;

    void ProgressChanged(const TSendProgress& Progress) override;
    void ScaleFinished(const std::string& FileName, const TScaleProgress& Scale) override;
    void StatusChanged() override;

    /// After every saved change of the settings: save, rewrite the start entry, restart the
    /// watch unless paused, refresh.
    void SettingsChanged();
    void TogglePause();
    void ShowMainWindow();
    void ShowGeneralDialog();
    void ShowScalesWindow();
    void ExitApplication();

    TLoaderSettings* Settings() const { return FSettings.get(); }
    TFolderWatch* Watch() const { return FWatch.get(); }
    TDeliveryEngine* Engine() const { return FEngine.get(); }
    QSystemTrayIcon* Tray() const { return FTray; }
    QMenu* TrayMenu() const { return FMenu.get(); }
    QAction* PauseItem() const { return FPauseItem; }
    bool Paused() const { return FPaused; }
    const QStringList& Recent() const { return FRecent; }

Q_SIGNALS:
    /// A balloon was shown (or would have been, where the desktop has no notification area).
    void BalloonShown(const QString& Title, const QString& Text);
    /// The window closed for good: the program ends.
    void Ended();

protected:
    void closeEvent(QCloseEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    /// Saves the settings, rewrites the start entry, restarts the watch unless paused and
    /// refreshes; true when the save worked.
    bool ApplySettings();

    // Controls (MainView.cpp).
    void CreateControls();
    void ApplyFonts();
    void LayOut();
    void SetupScaleList();
    void BuildTrayMenu();
    /// The tray icon turns to a warning, its tooltip and a balloon say why.
    void ShowDataFolderTrouble(const std::string& Fallback);
    /// Brings the notification icon and its idle tooltip in line with the state.
    void UpdateTrayLook();
    void FillScaleList();
    /// Reads each configured scale's delivery state from the engine and shows it.
    void ReadDeliveryStates();
    /// The delivery columns of the scale list: the file at hand's progress, else each scale's
    /// state as read last.
    void ShowDeliveryColumns();
    void FitScaleColumns();
    /// The line beside the scale list's caption and the icon's tooltip.
    void ShowProgress();
    void ShowRecent();
    void ShowJournalTail();

    // Behaviour (MainWindow.cpp).
    void FormCreate();
    void FormDestroy();
    void StartDelivery(bool ScalesKnown);
    void StopDelivery();
    void StartWatch();
    void StopWatch();
    /// A file is being sent and the watch would look at the same folder and names: it is kept, so
    /// that the file is not cut short; new settings apply from the next file.
    bool KeepWatchForSend() const;
    /// Queues a call to this window's thread without waiting.
    TPoster Poster();
    bool TrayAvailable() const;
    /// The data folder's watch lock; false when another watcher holds it.
    bool AcquireWatchLock();
    /// Brings an open modal dialog to the front; false when there is none.
    bool RaiseOpenDialog();
    void btnOpenLogClick();
    void btnHelpClick();

    QLabel* lblFiles = nullptr;
    QListWidget* lbFiles = nullptr;
    QLabel* lblScales = nullptr;
    QLabel* lblProgress = nullptr;
    QTreeWidget* lvScales = nullptr;
    QLabel* lblLog = nullptr;
    QPlainTextEdit* memLog = nullptr;
    QPushButton* btnGeneral = nullptr;
    QPushButton* btnScales = nullptr;
    QPushButton* btnRefresh = nullptr;
    QPushButton* btnOpenLog = nullptr;
    QPushButton* btnHelp = nullptr;

    std::unique_ptr<TLoaderSettings> FSettings;
    std::unique_ptr<TFolderWatch> FWatch;
    /// The file being sent, as last reported; empty when none is.
    TSendProgress FProgress;
    /// The delivery state of each configured scale as read last, in settings order.
    std::vector<TScaleState> FStates;
    /// The scales window while it is open, told when the delivery state changes.
    QPointer<TfrmScales> FScalesWindow;
    QSystemTrayIcon* FTray = nullptr;
    std::unique_ptr<QMenu> FMenu;
    QAction* FPauseItem = nullptr;
    bool FAllowClose = false;
    bool FPaused = false;
    QStringList FRecent;
    /// Not empty while the data folder is the executable's folder: what went wrong, in Russian.
    QString FDataFolderTrouble;
    QIcon FAppIcon; ///< the program's own icon, as the notification area shows it when all is well

    TMainOptions FOptions;
    bool FEndRequested = false;
    bool FStarted = false; ///< the start-up got past the single-instance check
    /// Processes the watch's ready files. Declared last, after everything its worker and its
    /// queued calls use, so that it goes first; FormDestroy ends it before anything else anyway.
    std::unique_ptr<TDeliveryEngine> FEngine;
};

} // namespace Plumeria
