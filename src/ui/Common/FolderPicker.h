#pragma once
// Every folder picker of the program goes through here, so a test can answer the next one in
// advance and read how it was asked, instead of blocking on a modal dialog nobody can see.

#include <QString>

#include <vector>

class QWidget;

namespace Plumeria {

/// Lets the user pick an existing folder. The picker starts at `StartFolder` when that folder
/// exists, else with no selection; `AllowNewFolder` offers creating a folder. Empty when the
/// user cancelled.
QString ChooseFolder(QWidget* Owner, const QString& Title, const QString& StartFolder,
                     bool AllowNewFolder);

/// A folder picker that was answered in advance.
struct TFolderRequest
{
    QString Title;
    QString StartFolder;
    bool AllowNewFolder = false;
};

/// Tests: the next picker is not shown but answered with `Folder` (empty: cancelled) and
/// recorded.
void PresetFolderAnswer(const QString& Folder);
/// Tests: the pickers answered in advance since the last call, oldest first.
std::vector<TFolderRequest> TakeFolderRequests();

} // namespace Plumeria
