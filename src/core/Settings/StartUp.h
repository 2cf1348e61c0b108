#pragma once
// The start of every program that watches: the tray program and `plumeria run` begin the same
// way, in this order: load the settings, set the journal level from them, write the defaults on
// a first start, write or remove the start-with-the-session entry, journal "started <version>",
// and journal it when the data folder had to fall back to the executable's folder.
// Settings that exist but cannot be read are never replaced by defaults: neither the first-start
// save nor any later save writes them, and the start entry is left as it is.

#include "core/Settings/Settings.h"

#include <functional>
#include <string>

namespace Plumeria {

/// Writes (true) or removes (false) the start-with-the-session entry; true when it is now as
/// asked. Empty where the program has no such entry (the command-line tool).
using TAutostartStep = std::function<bool(bool Enabled)>;

struct TStartReport
{
    bool SettingsRead = true; ///< false: settings.ini exists but could not be read (journalled)
    std::string SaveError;    ///< the first-start save failed with this message (journalled)
    /// Not empty when the machine-wide data folder could not be used: which folder and why
    /// (journalled). The settings and the journal are then beside the executable.
    std::string DataFolderFallback;
};

/// Runs the start-up sequence above on `Settings` (freshly constructed).
TStartReport StartWithSettings(TLoaderSettings& Settings, const TAutostartStep& Autostart);

/// After the user changed the settings: saves them, then brings the start entry in line. A save
/// that fails is journalled as "cannot save settings: <reason>" and returns false; when it was
/// refused because the file could not be read at start, the start entry is left alone too.
bool SaveChangedSettings(const TLoaderSettings& Settings, const TAutostartStep& Autostart);

} // namespace Plumeria
