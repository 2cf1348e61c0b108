#pragma once
// Everything a window test needs so that the real main window can start inside it without
// touching the machine: a temporary data folder, session folders (start-up entry, instance lock)
// of its own, no network (the update check is recorded instead) and no launched handlers (the
// addresses that would be opened are recorded).

#include "core/Settings/Settings.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "ui/Main/MainWindow.h"

#include <QString>
#include <QUrl>

#include <filesystem>
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

private:
    TTempDataFolder FData;
    TTempDir FSession;
    TScopedEnv FConfigHome;
    TScopedEnv FRuntimeDir;
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

} // namespace Plumeria::Test
