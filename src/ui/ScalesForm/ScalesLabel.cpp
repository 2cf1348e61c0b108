// The scales window's two label commands: opening the label designer for the selected DIGI
// scale, and sending the DIGI label files of a folder the user picks to every ticked scale, with
// one summary of the outcomes in the status line.

#include "ui/ScalesForm/ScalesForm.h"

#include "core/Text/Text.h"
#include "core/Types/Types.h"
#include "platform/Environment.h"
#include "ui/Common/FolderPicker.h"
#include "ui/LabelForm/LabelForm.h"
#include "ui/LabelForm/LabelSend.h"
#include "ui/UiText/UiText.h"

#include <QDir>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>

namespace Plumeria {

void TfrmScales::btnDesignClick()
{
    const int Row = SelectedIndex();
    if (Row < 0) {
        ShowStatus(QStringLiteral("Выберите весы"));
        return;
    }
    const TScaleConfig& Scale = FRows[static_cast<std::size_t>(Row)];
    if (Scale.Kind != TScaleKind::skDigi) {
        const std::string_view Make = ScaleKindName(Scale.Kind);
        ShowStatus(QStringLiteral("Дизайнер этикеток для этого типа ещё не готов ") +
                   QString::fromUtf8(Make.data(), static_cast<qsizetype>(Make.size())));
        return;
    }
    TfrmLabel Designer(this);
    Designer.Execute(FSettings);
}

void TfrmScales::btnLabelClick()
{
    if (std::none_of(FRows.begin(), FRows.end(),
                     [](const TScaleConfig& Scale) { return Scale.Enabled; })) {
        ShowStatus(QStringLiteral("Отметьте весы"));
        return;
    }
    const std::optional<QString> Chosen =
        PickFolder(this, UiLabel(), QStringLiteral("C:\\digi"), false);
    if (!Chosen)
        return;
    const std::filesystem::path Folder =
        PathFromUtf8(QDir::fromNativeSeparators(*Chosen).toStdString());
    // Checked before any scale is contacted: each would get f34.dat and then fail on f38.dat.
    if (const QString Missing = MissingLabelFilesText(Folder); !Missing.isEmpty()) {
        ShowStatus(Missing);
        return;
    }
    const int TimeoutMs = LabelTimeoutMs(FSettings);
    const std::string AdapterIp = FSettings ? FSettings->AdapterIp : std::string();

    QString Summary;
    {
        const TWaitCursor Waiting;
        for (const TScaleConfig& Scale : FRows) {
            if (!Scale.Enabled)
                continue;
            if (!Summary.isEmpty())
                Summary += QStringLiteral("   ");
            if (Scale.Kind != TScaleKind::skDigi) {
                Summary += QString::fromStdString(ScaleDisplayName(Scale)) +
                           QStringLiteral(": Этикетка только для DIGI");
            } else if (Trim(Scale.Host).empty()) {
                if (!Trim(Scale.Name).empty())
                    Summary += QString::fromStdString(Scale.Name) + QStringLiteral(": ");
                Summary += QStringLiteral("Укажите адрес");
            } else {
                const TLabelSendOutcome Outcome =
                    SendLabelToScale(Scale, AdapterIp, TimeoutMs, Folder);
                Summary += Outcome.Entry;
                // Every further scale would meet the same unreadable file.
                if (Outcome.Unreadable)
                    break;
            }
        }
    }
    ShowStatus(Summary);
}

} // namespace Plumeria
