#pragma once
// The two small dialogs of the label designer: the size of a new label, and the choice of the
// DIGI scales a label goes to. Both are modal and answer nothing when cancelled.

#include <QString>

#include <optional>
#include <vector>

class QWidget;

namespace Plumeria {

/// "Размер этикетки": width and height in whole millimetres from 10 to 200, filled with the
/// proposal. Input out of range keeps the dialog open after a warning. False when cancelled.
bool AskLabelSize(QWidget* Owner, int& WidthMm, int& HeightMm);

/// One line of the scale choice: its text, the scale's index in the settings, ticked or not.
struct TUploadLine
{
    QString Text;
    int ScaleIndex = -1;
    bool Ticked = false;
};

/// "Загрузить макет": the settings indices of the ticked lines, in list order; nothing when
/// cancelled. Confirming with no line ticked warns and keeps the dialog open.
std::optional<std::vector<int>> AskUploadScales(QWidget* Owner,
                                                const std::vector<TUploadLine>& Lines);

} // namespace Plumeria
