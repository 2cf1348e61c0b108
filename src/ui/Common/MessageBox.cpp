#include "ui/Common/MessageBox.h"

#include <deque>

namespace Plumeria {

namespace {

// Only the interface thread shows message boxes, so no lock.
std::deque<QMessageBox::StandardButton>& PresetAnswers()
{
    static std::deque<QMessageBox::StandardButton> Answers;
    return Answers;
}

std::vector<TShownMessage>& Shown()
{
    static std::vector<TShownMessage> Messages;
    return Messages;
}

QMessageBox::Icon BoxIcon(TMessageIcon Icon)
{
    switch (Icon) {
    case TMessageIcon::miWarning:
        return QMessageBox::Warning;
    case TMessageIcon::miError:
        return QMessageBox::Critical;
    case TMessageIcon::miQuestion:
        return QMessageBox::Question;
    case TMessageIcon::miInformation:
        break;
    }
    return QMessageBox::Information;
}

} // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* Owner, const QString& Text,
                                           const QString& Caption, TMessageIcon Icon,
                                           QMessageBox::StandardButtons Buttons)
{
    if (!PresetAnswers().empty()) {
        const QMessageBox::StandardButton Answer = PresetAnswers().front();
        PresetAnswers().pop_front();
        Shown().push_back({Text, Caption, Icon, Owner != nullptr});
        return Answer;
    }
    QMessageBox Box(BoxIcon(Icon), Caption, Text, Buttons, Owner);
    return static_cast<QMessageBox::StandardButton>(Box.exec());
}

void PresetMessageAnswer(QMessageBox::StandardButton Answer)
{
    PresetAnswers().push_back(Answer);
}

std::vector<TShownMessage> TakeShownMessages()
{
    std::vector<TShownMessage> Messages;
    Messages.swap(Shown());
    return Messages;
}

} // namespace Plumeria
