#include "LabelDesigner.h"

#include "core/LabelGeom/LabelGeom.h"
#include "platform/Environment.h"
#include "ui/Common/FolderPicker.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <memory>
#include <stdexcept>

namespace Plumeria::Test {

std::filesystem::path MakeLabelFolder(const TUiSandbox& Box, const std::string& Name, int WidthDots,
                                      int HeightDots)
{
    const auto Folder = Box.Folder(Name);
    TDigiLabelDoc Doc;
    std::string Error;
    if (!Doc.CreateEmpty(Folder / "f34.dat", WidthDots, HeightDots, Error))
        throw std::runtime_error("cannot create a label: " + Error);
    return Folder;
}

void OpenInDesigner(TfrmLabel& Form, const std::filesystem::path& Folder)
{
    PresetFolderAnswer(QString::fromStdString(PathToUtf8(Folder)));
    Child<QPushButton>(Form, "btnOpen")->click();
    TakeShownFolderPickers();
}

TOpenDesigner::TOpenDesigner(int WidthDots, int HeightDots)
{
    OpenInDesigner(Form, MakeLabelFolder(Box, "Этикетка", WidthDots, HeightDots));
}

int TOpenDesigner::Word(int Slot, int At)
{
    return Doc().WordAt(0, GetSlot(Slot).Offset + At);
}

void WhenModal(const QString& Name, std::function<void(QWidget&)> Action)
{
    auto* Poll = new QTimer();
    Poll->setInterval(5);
    QObject::connect(Poll, &QTimer::timeout, [Poll, Name, Action = std::move(Action)] {
        QWidget* Modal = QApplication::activeModalWidget();
        if (!Modal || Modal->objectName() != Name)
            return;
        Poll->stop();
        Poll->deleteLater();
        Action(*Modal);
    });
    Poll->start();
}

QStringList Texts(std::initializer_list<const char*> Items)
{
    QStringList List;
    for (const char* Item : Items)
        List << QString::fromUtf8(Item);
    return List;
}

} // namespace Plumeria::Test
