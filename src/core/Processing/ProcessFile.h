#pragma once
// The road of one ready file from the watched folder to its result folder: parse once per code
// page the scales need, upload to every enabled scale whose mask accepts the name, journal each
// outcome, move the file to "processed", "error" or "skipped", report to the user, and tell the
// watch whether the file went away. Runs on the interface thread, one file at a time; whatever
// escapes while one file is handled is journaled and never stops the watch.

#include "core/Driver/Driver.h"
#include "core/Types/Types.h"

#include <filesystem>
#include <functional>
#include <string>

namespace Plumeria {

class TLoaderSettings;
class TFolderWatch;

/// What file processing needs of the window that owns it. The tray program's main window
/// implements it; `plumeria run` prints to the terminal; tests record the calls.
class IProcessReporter
{
public:
    virtual ~IProcessReporter() = default;
    /// One line of the recent-files list (the window prefixes the time).
    virtual void AddRecent(const std::string& Line) = 0;
    /// A notification balloon; shown only where a notification icon exists.
    virtual void ShowBalloon(const std::string& Title, const std::string& Text) = 0;
    virtual void RefreshView() = 0;
};

/// The title of every balloon file processing shows.
inline constexpr const char* ProcessBalloonTitle = "Весы";

/// What a test may replace; left empty, the real ones are used.
struct TProcessHooks
{
    /// A new driver for one upload (CreateScaleDriver).
    std::function<TScaleDriverRef(TScaleKind)> CreateDriver;
    /// Reads and parses the file in one code page (ParsePluFile); throws when it cannot read.
    std::function<void(const std::filesystem::path&, int, TPluParseResult&)> ParseFile;
};

/// Carries `FileName` (full path, UTF-8) to its end. `Settings` may be null (the file is left in
/// place for the watch's cool-down); `Watch` may be null (nobody is told about the finish).
void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter);

/// The same with replaced parts.
void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter, const TProcessHooks& Hooks);

} // namespace Plumeria
