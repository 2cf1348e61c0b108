#pragma once
// The road of one ready file from the watched folder to its result folder: parse once per code
// page the scales need, upload to every enabled scale whose mask accepts the name, journal each
// outcome, move the file to "processed", "error" or "skipped", report to the user, and tell the
// watch whether the file went away. Only the file that was read is moved: a file replaced
// meanwhile stays for its own turn. Runs on one thread (the delivery engine's worker), one file
// at a time, its uploads on threads of their own when asked to; whatever
// escapes while one file is handled is journaled and never stops the watch.

#include "core/Driver/Driver.h"
#include "core/Types/Types.h"
#include "platform/FileOps.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace Plumeria {

class TLoaderSettings;
class TFolderWatch;
struct TScaleConfig;

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

/// What file processing keeps from one file to the next: files the scales have taken whose move
/// into their result folder failed. Such a file is never uploaded again (an older list would
/// overwrite a newer one on the scale at every retry); only its move is retried, as long as the
/// very file that was sent is still there. Owned by whoever processes files for a watch.
class TProcessMemory
{
public:
    struct TMoveDue
    {
        TFileIdentity Identity; ///< the file that was sent
        std::string Folder;
        std::string ErrorText;
        bool ByDate = false;
    };

    /// The move still due for `FileName`, if any.
    const TMoveDue* MoveDue(const std::string& FileName) const;
    void RememberMove(const std::string& FileName, TMoveDue Due);
    void Forget(const std::string& FileName);
    std::size_t Size() const { return FMoves.size(); }

private:
    std::map<std::string, TMoveDue> FMoves;
};

/// What sending in the background adds to file processing. Left empty, uploads run one after
/// another on the calling thread, as on the interface thread.
struct TProcessContext
{
    /// Scales given the file at the same time, each on a connection of its own.
    std::size_t MaxParallel = 1;
    /// Set by another thread: every upload ends at its next article, and the file is left where
    /// it is, unreported, for its next turn.
    const std::atomic<bool>* Cancel = nullptr;
    /// Articles a scale acknowledged so far, of `Total`; called from the uploading threads.
    std::function<void(const TScaleConfig& Scale, std::size_t Sent, std::size_t Total)> Progress;
    /// Called on an uploading thread before the scale is given the file: false (with the reason)
    /// keeps the file from the scale for now, which then counts as not having taken it.
    std::function<bool(const TScaleConfig& Scale, std::string& Why)> BeforeUpload;
    /// Each scale's outcome once every upload has ended, in settings order. `Bytes` is set for a
    /// scale that did not take the file: the content the others were sent (null when the file
    /// changed meanwhile or could not be read again).
    std::function<void(const TScaleConfig& Scale, const TUploadResult& Result, std::size_t Articles,
                       const std::string* Bytes)>
        ScaleDone;
};

/// Carries `FileName` (full path, UTF-8) to its end. `Settings` may be null (the file is left in
/// place for the watch's cool-down); `Watch` may be null (nobody is told about the finish).
void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter);

/// The same with replaced parts.
void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter, const TProcessHooks& Hooks);

/// The same, remembering across files in `Memory` (the watch's consumers use this one).
void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter, TProcessMemory& Memory,
                 const TProcessHooks& Hooks = {}, const TProcessContext& Context = {});

} // namespace Plumeria
