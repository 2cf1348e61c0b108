#pragma once
// Sending a folder's DIGI label files to configured scales, one after the other on the interface
// thread, as the label designer and the scales window both do: the scale's port (or the DIGI
// default of its host), the address to send from, the time-out from the settings, and one entry
// of the summary per scale. A label file that exists but cannot be read at all is caught here and
// journalled, so it never escapes into the event loop.

#include <QString>

#include <filesystem>
#include <string>

namespace Plumeria {

class TLoaderSettings;
struct TScaleConfig;

/// The settings' connect time-out; 500 without settings or outside 100 … 3000.
int LabelTimeoutMs(const TLoaderSettings* Settings);

/// The scale's port, or the DIGI default of its host when the port is 0 or less.
int DigiScalePort(const TScaleConfig& Scale);

struct TLabelSendOutcome
{
    /// "display name: message".
    QString Entry;
    /// A label file could not be read at all; the other scales would meet the same file.
    bool Unreadable = false;
};

/// A path as the user's system writes it ("\" between folders on Windows): a folder that came
/// from the picker and a file name joined to it otherwise show both separators.
QString NativePathText(const std::filesystem::path& Path);

/// Sends the label files of `Folder` to one DIGI scale, from the address chosen for its host and
/// `AdapterIp`.
TLabelSendOutcome SendLabelToScale(const TScaleConfig& Scale, const std::string& AdapterIp,
                                   int TimeoutMs, const std::filesystem::path& Folder);

/// Empty when `Folder` holds every label file the upload sends; otherwise what to tell the user
/// before any scale is contacted: "Нет файла f38.dat в папке …: этикетка не отправлена".
QString MissingLabelFilesText(const std::filesystem::path& Folder);

/// The wait cursor for as long as it lives.
class TWaitCursor
{
public:
    TWaitCursor();
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

} // namespace Plumeria
