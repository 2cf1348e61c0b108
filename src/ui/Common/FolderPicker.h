#pragma once
// Every folder picker of the program goes through here, so a test can answer the next one in
// advance and read how it was asked, instead of blocking on a modal dialog nobody can see.

#include <QString>

#include <optional>
#include <vector>

class QWidget;

namespace Plumeria {

/// Asks for an existing folder, starting at `Start` when that folder exists (no selection
/// otherwise). `AllowCreate` offers a button for a new folder. Nothing when cancelled.
std::optional<QString> PickFolder(QWidget* Owner, const QString& Title, const QString& Start,
                                  bool AllowCreate);

/// A folder picker that was answered in advance, as it was asked.
struct TShownFolderPicker
{
    QString Title;
    QString Start; ///< empty when the start folder did not exist
    bool AllowCreate = false;
};

/// Tests: the next picker is not shown but answered with `Answer` (nothing: cancelled).
void PresetFolderAnswer(std::optional<QString> Answer);
/// Tests: the pickers answered in advance since the last call, oldest first.
std::vector<TShownFolderPicker> TakeShownFolderPickers();

} // namespace Plumeria
