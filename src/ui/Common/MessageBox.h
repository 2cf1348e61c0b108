#pragma once
// Every message box of the program goes through here, so a test can answer the next one in
// advance and read what it said, instead of blocking on a modal dialog nobody can see.

#include <QMessageBox>
#include <QString>

#include <vector>

class QWidget;

namespace Plumeria {

enum class TMessageIcon
{
    miInformation,
    miWarning,
    miError,
    miQuestion,
};

/// A modal message box over `Owner` (none: a box of its own). Returns the button chosen.
QMessageBox::StandardButton ShowMessageBox(QWidget* Owner, const QString& Text,
                                           const QString& Caption, TMessageIcon Icon,
                                           QMessageBox::StandardButtons Buttons = QMessageBox::Ok);

/// A message box that was answered in advance.
struct TShownMessage
{
    QString Text;
    QString Caption;
    TMessageIcon Icon = TMessageIcon::miInformation;
    bool HadOwner = false;
};

/// Tests: the next message box is not shown but answered with `Answer` and recorded.
void PresetMessageAnswer(QMessageBox::StandardButton Answer);
/// Tests: the boxes answered in advance since the last call, oldest first.
std::vector<TShownMessage> TakeShownMessages();

} // namespace Plumeria
