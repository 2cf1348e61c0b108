#include "ui/Common/FolderPicker.h"

#include <QDir>
#include <QFileDialog>

#include <deque>

namespace Plumeria {

namespace {

// Only the interface thread shows pickers, so no lock.
std::deque<QString>& PresetAnswers()
{
    static std::deque<QString> Answers;
    return Answers;
}

std::vector<TFolderRequest>& Requests()
{
    static std::vector<TFolderRequest> Asked;
    return Asked;
}

} // namespace

QString ChooseFolder(QWidget* Owner, const QString& Title, const QString& StartFolder,
                     bool AllowNewFolder)
{
    if (!PresetAnswers().empty()) {
        const QString Answer = PresetAnswers().front();
        PresetAnswers().pop_front();
        Requests().push_back({Title, StartFolder, AllowNewFolder});
        return Answer;
    }
    QFileDialog::Options Options = QFileDialog::ShowDirsOnly;
    // A read-only picker offers no button for a new folder.
    if (!AllowNewFolder)
        Options |= QFileDialog::ReadOnly;
    const QString Start = QDir(StartFolder).exists() ? StartFolder : QString();
    return QDir::toNativeSeparators(
        QFileDialog::getExistingDirectory(Owner, Title, Start, Options));
}

void PresetFolderAnswer(const QString& Folder)
{
    PresetAnswers().push_back(Folder);
}

std::vector<TFolderRequest> TakeFolderRequests()
{
    std::vector<TFolderRequest> Asked;
    Asked.swap(Requests());
    return Asked;
}

} // namespace Plumeria
