#pragma once
// Everything the user configures: the watched folder and its masks, the network options, the
// journal level, the start-up options and the list of scales. Kept in `settings.ini` in the data
// folder; keys and sections this program does not know survive a save untouched.

#include "core/Journal/Journal.h"
#include "core/Types/Types.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Plumeria {

/// One configured scale. A plain value: copying copies everything.
struct TScaleConfig
{
    bool Enabled = false;     ///< only enabled scales receive files
    std::string Host;         ///< IPv4 address or host name, trimmed on load
    std::int32_t Port = 2000; ///< not validated on load; 0 lets the DIGI driver derive it
    TScaleKind Kind = TScaleKind::skDigi;
    std::string Model;                ///< model name chosen in the scale dialog
    std::int32_t FileCodePage = 1251; ///< 866 or 1251
    std::string FileMask = "*";       ///< ";"-separated wildcard masks; "*" or empty: every file
    std::string Name;                 ///< the user's name, at most 80 UTF-16 code units

    friend bool operator==(const TScaleConfig&, const TScaleConfig&) = default;
};

inline constexpr std::int32_t DefaultConnectTimeoutMs = 500;
inline constexpr std::int32_t MinConnectTimeoutMs = 100;
inline constexpr std::int32_t MaxConnectTimeoutMs = 3000;
/// More scale sections than this are never read, whatever ScaleCount says.
inline constexpr std::int32_t MaxScaleCount = 500;
/// A scale name longer than this (in UTF-16 code units) is cut on load.
inline constexpr std::size_t MaxScaleNameLength = 80;
inline constexpr const char* DefaultWatchMask = "*.csv;*.txt";

/// The one settings object of the process, owned by the main window.
class TLoaderSettings
{
public:
    TLoaderSettings() { ResetDefaults(); }

    std::string WatchFolder;
    std::string FileMask;
    bool AutoUpdate = true;
    bool RunWithWindows = true;
    std::int32_t ConnectTimeoutMs = DefaultConnectTimeoutMs;
    std::string AdapterIp; ///< empty: the system chooses the outgoing address
    TLogLevel LogLevel = TLogLevel::llMaximum;
    std::vector<TScaleConfig> Scales;

    /// Every field back to its default; no scales.
    void ResetDefaults();
    /// `settings.ini` in the data folder.
    std::filesystem::path IniPath() const;
    /// Defaults, then whatever `settings.ini` holds. A missing file is no error (the defaults
    /// stand). An existing file that cannot be read or decoded leaves the defaults too, but
    /// journals an error with the reason, returns false and marks this object as not loaded, so
    /// that its defaults are never saved over the user's file. Unreadable numbers and unknown
    /// texts fall back to each key's default silently.
    bool Load();
    /// False after a `Load` that found the file but could not read it.
    bool Loaded() const { return !FLoadFailed; }
    /// Writes the settings into `settings.ini`, keeping keys and sections it does not know. The
    /// file is replaced as a whole, never left half-written; failures (folder or file not
    /// writable, or this object not loaded from the existing file) are thrown to the caller and
    /// leave the previous file as it was.
    void Save() const;
    /// Copies every field; the scale list is copied, not shared.
    void Assign(const TLoaderSettings& Source);

    /// Compares the settings, not whether they were loaded.
    friend bool operator==(const TLoaderSettings& A, const TLoaderSettings& B);

private:
    bool FLoadFailed = false;
};

/// The one-line name of a scale for lists: "name  host", or whichever of the two is not empty
/// (both trimmed).
std::string ScaleDisplayName(const TScaleConfig& Config);

/// Writes the start-with-the-session entry for the running executable when `Enabled`, removes it
/// (if present) otherwise. A failure changes nothing and is not reported, except through the
/// result (true when the entry is now as asked), which callers may ignore.
bool ApplyAutostart(bool Enabled);

} // namespace Plumeria
