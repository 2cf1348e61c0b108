#include "core/Settings/StartUp.h"

#include "core/Journal/Journal.h"
#include "platform/Environment.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace Plumeria {

namespace {

/// A failure is only journalled: the program runs on either way.
void ApplyStartEntry(const TAutostartStep& Autostart, bool Enabled)
{
    if (Autostart && !Autostart(Enabled))
        LogWarn(Enabled ? "cannot write the start-up entry" : "cannot remove the start-up entry");
}

bool TrySave(const TLoaderSettings& Settings, std::string& Error)
{
    try {
        Settings.Save();
        return true;
    } catch (const std::exception& Failure) {
        Error = Failure.what();
        LogError("cannot save settings: " + Error);
        return false;
    }
}

} // namespace

TStartReport StartWithSettings(TLoaderSettings& Settings, const TAutostartStep& Autostart)
{
    TStartReport Report;
    std::error_code Ignored;
    const bool HadFile = std::filesystem::exists(Settings.IniPath(), Ignored);
    Report.SettingsRead = Settings.Load();
    SetLogLevel(Settings.LogLevel);
    // A first start writes the defaults; a data folder that cannot be written must not keep the
    // program from watching.
    if (!HadFile)
        TrySave(Settings, Report.SaveError);
    // Defaults standing in for an unreadable file say nothing about the user's wish.
    if (Report.SettingsRead)
        ApplyStartEntry(Autostart, Settings.RunWithWindows);
    LogInfo(std::string("started ") + PLUMERIA_VERSION);
    Report.DataFolderFallback = DataFolderFallback();
    if (!Report.DataFolderFallback.empty())
        LogError("data folder " + Report.DataFolderFallback +
                 "; the settings and the journal are in " + PathToUtf8(DataFolder()) + " instead");
    return Report;
}

bool SaveChangedSettings(const TLoaderSettings& Settings, const TAutostartStep& Autostart)
{
    std::string Error;
    const bool Saved = TrySave(Settings, Error);
    if (Settings.Loaded())
        ApplyStartEntry(Autostart, Settings.RunWithWindows);
    return Saved;
}

} // namespace Plumeria
