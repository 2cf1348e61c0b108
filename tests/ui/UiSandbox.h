#pragma once
// Everything a window test needs so that the real main window can start inside it without
// touching the machine: a temporary data folder, session folders (start-up entry, instance lock)
// of its own, no network (the update check is recorded instead) and no launched handlers (the
// addresses that would be opened are recorded).

#include "core/Delivery/DeliveryEngine.h"
#include "core/Settings/Settings.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "ui/Main/MainWindow.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QString>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Plumeria::Test {

class TUiSandbox
{
public:
    TUiSandbox();
    ~TUiSandbox();
    TUiSandbox(const TUiSandbox&) = delete;
    TUiSandbox& operator=(const TUiSandbox&) = delete;

    /// Options for a window in this sandbox: a notification area as given, and the update check
    /// recorded (answering `UpdateTookOver`).
    TMainOptions Options(bool TrayAvailable = true);

    std::filesystem::path DataDir() const { return FData.DataDir(); }
    std::filesystem::path SettingsFile() const { return FData.DataDir() / "settings.ini"; }
    /// A folder inside the sandbox, created.
    std::filesystem::path Folder(const std::string& Name) const;

    /// The `AutoUpdate` values the update check was called with, in order.
    std::vector<bool> UpdateChecks;
    /// Whether "started 1.0.3" was in the journal when the update check ran, per call.
    std::vector<bool> StartedBeforeCheck;
    bool UpdateTookOver = false;
    /// Addresses handed to the default handler, in order.
    std::vector<QUrl> Opened;
    /// The default handler takes no journal file (".log"), as on a machine without a program
    /// for them; with `NoHandlerAtAll` it takes nothing.
    bool NoHandlerForJournal = false;
    bool NoHandlerAtAll = false;

private:
    TTempDataFolder FData;
    TTempDir FSession;
    TScopedEnv FConfigHome;
    TScopedEnv FRuntimeDir;
    /// Windows keeps the start-up entry in the logon's registry, which no folder of ours can
    /// stand in for: the entry found there is put aside for the test and put back after it.
    std::optional<std::string> FOwnAutostart;
};

/// The title the desktop shows for `Window`: Qt's platform layer appends a separator and the
/// application display name, once one is set, to every title that does not already end with it,
/// and shows the application name for an empty title. `windowTitle()` alone is the text passed in.
QString ShownTitle(const QWidget& Window);

/// Today's journal file as text ("" when there is none).
std::string JournalText();

/// An enabled scale with the given fields, the rest at their defaults.
TScaleConfig MakeScale(const char* Name, const char* Host, int Port, TScaleKind Kind,
                       const char* Model, const char* Mask);

/// Replaces the text of `Edit` as a user would: key by key where the test library has keys for
/// the characters (ASCII), as one input otherwise (Cyrillic); either way the edit's change
/// signals fire as for typing.
void TypeText(QLineEdit* Edit, const QString& Text);

/// One scale's part of a file being sent, `Sent` of `Total` articles.
TScaleProgress Part(const char* Host, int Port, const char* Name, std::size_t Sent,
                    std::size_t Total);

/// What is wrong with the layout of `Window`'s controls, empty when nothing is: a visible control
/// outside its parent, two visible siblings overlapping, a caption (label, button, check box)
/// that needs more room than its control has, or a text field whose text would be out of sight.
QString LayoutFault(const QWidget& Window);

/// Whether `List` draws grid lines around `Item`'s cell in `Column`, as seen on screen once the
/// cell is scrolled into view: the pixel under the middle of the cell's bottom edge and the one
/// beside the middle of its right edge have the style's grid colour (and the list's base colour
/// differs from it, so the check means something).
bool DrawsGridLines(QTreeWidget* List, QTreeWidgetItem* Item, int Column);

/// Runs `Open`, which shows a modal dialog of type `TDialog` and returns once it closed, and
/// hands that dialog to `Drive` as soon as it is up. A dialog that `Drive` leaves open (or one
/// that never came) is closed, so a failing test cannot hang in the modal loop; the result is
/// true only when the dialog came and `Drive` closed it.
template <typename TDialog>
bool DriveModal(const std::function<void()>& Open, const std::function<void(TDialog&)>& Drive,
                int TimeoutMs = 10000)
{
    bool Came = false;
    bool LeftOpen = false;
    QTimer Poll;
    Poll.setInterval(10);
    QElapsedTimer Clock;
    Clock.start();
    QObject::connect(&Poll, &QTimer::timeout, [&] {
        if (auto* Dialog = qobject_cast<TDialog*>(QApplication::activeModalWidget())) {
            Poll.stop();
            Came = true;
            Drive(*Dialog);
            if (Dialog->isVisible()) {
                LeftOpen = true;
                Dialog->reject();
            }
        } else if (Clock.elapsed() > TimeoutMs) {
            Poll.stop();
            if (QWidget* Other = QApplication::activeModalWidget())
                Other->close();
        }
    });
    Poll.start();
    Open();
    return Came && !LeftOpen;
}

} // namespace Plumeria::Test
