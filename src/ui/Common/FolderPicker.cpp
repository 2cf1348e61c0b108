#include "ui/Common/FolderPicker.h"

#include <QDir>
#include <QFileDialog>

#include <deque>
#include <utility>

namespace Plumeria {

namespace {

// Only the interface thread shows pickers, so no lock.
std::deque<std::optional<QString>>& PresetAnswers()
{
    static std::deque<std::optional<QString>> Answers;
    return Answers;
}

std::vector<TShownFolderPicker>& Shown()
{
    static std::vector<TShownFolderPicker> Pickers;
    return Pickers;
}

} // namespace

std::optional<QString> PickFolder(QWidget* Owner, const QString& Title, const QString& Start,
                                  bool AllowCreate)
{
    const QString StartFolder = !Start.isEmpty() && QDir(Start).exists() ? Start : QString();
    if (!PresetAnswers().empty()) {
        std::optional<QString> Answer = std::move(PresetAnswers().front());
        PresetAnswers().pop_front();
        Shown().push_back({Title, StartFolder, AllowCreate});
        return Answer;
    }
    QFileDialog::Options Options = QFileDialog::ShowDirsOnly;
    if (!AllowCreate)
        Options |= QFileDialog::ReadOnly; // no "new folder" button
    const QString Chosen = QFileDialog::getExistingDirectory(Owner, Title, StartFolder, Options);
    if (Chosen.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(Chosen);
}

void PresetFolderAnswer(std::optional<QString> Answer)
{
    PresetAnswers().push_back(std::move(Answer));
}

std::vector<TShownFolderPicker> TakeShownFolderPickers()
{
    std::vector<TShownFolderPicker> Pickers;
    Pickers.swap(Shown());
    return Pickers;
}

} // namespace Plumeria
