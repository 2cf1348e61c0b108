#pragma once
// What the label designer tests share: label folders with a fresh `f34.dat`, a designer that
// opened one through its own open button, and answering the designer's own modal dialogs (size,
// scale choice) from inside their event loop.

#include "UiSandbox.h"

#include "ui/LabelForm/LabelForm.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>

namespace Plumeria {
class TDigiLabelDoc;
}

namespace Plumeria::Test {

/// A folder `Name` in the sandbox holding a new `f34.dat` (two empty formats of the given size).
std::filesystem::path MakeLabelFolder(const TUiSandbox& Box, const std::string& Name,
                                      int WidthDots = 432, int HeightDots = 296);

/// Opens the `f34.dat` of `Folder` through the designer's open button.
void OpenInDesigner(TfrmLabel& Form, const std::filesystem::path& Folder);

/// A designer that opened a fresh label (two empty formats of the given size) in a sandbox.
struct TOpenDesigner
{
    TUiSandbox Box;
    TfrmLabel Form;

    explicit TOpenDesigner(int WidthDots = 432, int HeightDots = 296);
    TDigiLabelDoc& Doc() { return *Form.Document(); }
    /// The word at `At` of the slot's block in the first format.
    int Word(int Slot, int At);
};

/// Runs `Action` on the modal dialog whose object name is `Name` once it shows; the caller then
/// starts whatever opens that dialog.
void WhenModal(const QString& Name, std::function<void(QWidget&)> Action);

/// UTF-8 texts as a list of strings.
QStringList Texts(std::initializer_list<const char*> Items);

/// The child control `Name` of `Parent`, which must exist.
template <typename T> T* Child(const QWidget& Parent, const char* Name)
{
    T* Found = Parent.findChild<T*>(QString::fromLatin1(Name));
    if (!Found)
        qFatal("no control %s", Name);
    return Found;
}

} // namespace Plumeria::Test
