#include "ui/ScalesForm/ScalesForm.h"

#include "core/Journal/Journal.h"
#include "core/OnlineProbe/OnlineProbe.h"
#include "core/Settings/ScaleEntry.h"
#include "core/Types/PostingThread.h"
#include "ui/Common/Controls.h"
#include "ui/Common/DeliveryText.h"
#include "ui/Common/MessageBox.h"
#include "ui/DigiForm/DigiForm.h"
#include "ui/UiText/UiText.h"

#include <QLabel>
#include <QMenu>
#include <QMetaObject>
#include <QPushButton>
#include <QTreeWidget>

#include <exception>
#include <utility>

namespace Plumeria {

namespace {

QString NotReadyText()
{
    return QStringLiteral("Форма для этого типа ещё не готова");
}

} // namespace

TfrmScales::TfrmScales(QWidget* Parent) : QDialog(Parent)
{
    CreateControls();
}

TfrmScales::~TfrmScales()
{
    FProbeCancel = true;
    FProbePending = false;
    ++FProbeGen;
    // The attempt in progress sees the cancel within about a tenth of a second; the calls the
    // thread queued for this window are dropped with it.
    FProbeThread.reset();
}

void TfrmScales::Execute(TLoaderSettings* Settings, TSettingsChanged OnChanged)
{
    Open(Settings, std::move(OnChanged));
    exec();
}

void TfrmScales::Open(TLoaderSettings* Settings, TSettingsChanged OnChanged)
{
    FSettings = Settings;
    FOnChanged = std::move(OnChanged);
    LoadRows();
    RequestProbe();
}

void TfrmScales::done(int Result)
{
    FProbeCancel = true;
    QDialog::done(Result);
}

void TfrmScales::SetDelivery(TScalesDelivery Delivery)
{
    FDelivery = std::move(Delivery);
    FProgress = FDelivery.Progress ? FDelivery.Progress() : TSendProgress{};
    ShowDelivery();
    SelectionChanged();
}

void TfrmScales::DeliveryChanged()
{
    ShowDelivery();
}

void TfrmScales::ProgressChanged(const TSendProgress& Progress)
{
    FProgress = Progress;
    ShowResults();
}

void TfrmScales::btnResendClick()
{
    const int Row = SelectedIndex();
    if (Row < 0) {
        ShowStatus(QStringLiteral("Выберите весы"));
        return;
    }
    if (!FDelivery.ResendNow)
        return;
    const TScaleConfig& Scale = FRows[static_cast<std::size_t>(Row)];
    const int Port = PortInUse(Scale);
    std::size_t Missing = 0;
    if (FDelivery.States)
        for (const TScaleState& State : FDelivery.States({Scale}))
            Missing += State.Missing;
    // Asked all the same: the count shown may be a moment old.
    FDelivery.ResendNow(Scale.Host, Port);
    LogInfo("resend asked for " + Scale.Host + ":" + std::to_string(Port));
    const QString Name = QtText(ScaleDisplayName(Scale));
    ShowStatus(
        Missing > 0
            ? QStringLiteral("Отправляется снова: %1, %2").arg(Name, WaitingFilesText(Missing))
            : QStringLiteral("Весы не ждут файлов: %1").arg(Name));
}

void TfrmScales::ShowStatus(const QString& Text)
{
    lblStatus->setText(Text);
}

void TfrmScales::LoadRows()
{
    FRows.clear();
    FOnline.clear();
    if (FSettings) {
        FRows = FSettings->Scales;
        FOnline.assign(FRows.size(), -1);
    }
    FillList();
}

void TfrmScales::SaveRows()
{
    if (!FSettings)
        return;
    FSettings->Scales = FRows;
    if (FOnChanged)
        FOnChanged();
}

void TfrmScales::RequestProbe()
{
    ++FProbeGen;
    if (!FProbeThread || FProbeThread->Finished()) {
        FProbePending = false;
        StartProbeThread();
    } else {
        FProbePending = true; // the running thread stops at its next target and restarts us
    }
}

void TfrmScales::StartProbeThread()
{
    if (FProbeThread) {
        if (!FProbeThread->Finished())
            return;
        FProbeThread.reset();
    }
    FOnline.resize(FRows.size(), -1);
    TProbeSnapshot Snapshot = MakeProbeSnapshot(FProbeGen, FRows, FSettings);
    for (std::size_t I = 0; I < FRows.size(); ++I)
        SetOnline(static_cast<int>(I), -1);
    if (Snapshot.Targets.empty())
        return;
    FProbeCancel = false;
    const std::int32_t ThreadGen = Snapshot.Gen;

    TPoster Poster = [this](TPostedCall Call) {
        QMetaObject::invokeMethod(this, std::move(Call), Qt::QueuedConnection);
    };
    auto Work = [this, Poster, Snapshot = std::move(Snapshot)] {
        RunOnlineProbe(
            Snapshot, FProbeCancel, FProbeGen,
            [this, &Poster](std::int32_t Gen, int Index, bool Up, const std::string& SeenHost) {
                Poster([this, Gen, Index, Up, SeenHost] { QueueOnline(Gen, Index, Up, SeenHost); });
            });
    };
    try {
        FProbeThread =
            std::make_unique<TPostingThread>("online probe", std::move(Work), std::move(Poster),
                                             [this, ThreadGen] { ProbeCompleted(ThreadGen); });
        FProbeThreadGen = ThreadGen;
    } catch (const std::exception& Error) {
        LogError(std::string("online probe failed: ") + Error.what());
    }
}

void TfrmScales::QueueOnline(std::int32_t Gen, int Index, bool Up, const std::string& SeenHost)
{
    if (ProbeResultApplies(Gen, FProbeGen, Index, FRows, SeenHost))
        SetOnline(Index, Up ? 1 : 0);
}

void TfrmScales::ProbeCompleted(std::int32_t ThreadGen)
{
    // The end of a thread that has already been replaced says nothing about the current one,
    // which may still be in the middle of an attempt.
    if (!FProbeThread || ThreadGen != FProbeThreadGen || !FProbePending)
        return;
    FProbePending = false;
    if (FProbeCancel)
        return;
    FProbeThread.reset(); // finished: returns at once
    StartProbeThread();
}

void TfrmScales::lvScalesItemChecked(QTreeWidgetItem* Item)
{
    if (FLoading || !Item)
        return;
    const int Row = Item->data(0, Qt::UserRole).toInt();
    if (Row < 0 || static_cast<std::size_t>(Row) >= FRows.size())
        return;
    // The list reports every change of an item; only a changed check box is a change here.
    const bool Checked = Item->checkState(0) == Qt::Checked;
    TScaleConfig Scale = FRows[static_cast<std::size_t>(Row)];
    if (Scale.Enabled == Checked)
        return;
    Scale.Enabled = Checked;
    FRows[static_cast<std::size_t>(Row)] = Scale;
    SaveRows();
}

void TfrmScales::lvScalesDblClick(QTreeWidgetItem* Item)
{
    if (Item && Item->data(0, Qt::UserRole).toInt() >= 0)
        EditScale();
}

void TfrmScales::btnAddClick()
{
    FAddMenu->popup(btnAdd->mapToGlobal(btnAdd->rect().bottomLeft()));
}

void TfrmScales::AddMenuClick(TScaleKind Kind)
{
    if (Kind != TScaleKind::skDigi) {
        ShowStatus(NotReadyText() + QLatin1Char(' ') + QtText(ScaleKindName(Kind)));
        return;
    }
    AddDigi();
}

void TfrmScales::AddDigi()
{
    TScaleConfig Empty;
    Empty.Kind = TScaleKind::skDigi;
    Empty.Port = 0;
    Empty.FileCodePage = 0;
    Empty.FileMask.clear();
    Empty.Enabled = false;
    std::vector<TScaleConfig> Results;
    {
        TfrmDigi Dialog(this);
        Dialog.Prepare(FSettings, Empty, false);
        if (Dialog.exec() != QDialog::Accepted)
            return;
        Results = Dialog.Results();
    }
    bool Appended = false;
    for (const TScaleConfig& Record : Results) {
        if (FindDigiHost(FRows, Record.Host) >= 0)
            continue; // already configured: skipped without a word
        FRows.push_back(Record);
        FOnline.push_back(-1);
        Appended = true;
    }
    if (Appended)
        RowsChanged(QStringLiteral("Весы добавлены"), "scales added");
}

void TfrmScales::RowsChanged(const QString& Status, const char* JournalText)
{
    FillList();
    SaveRows();
    RequestProbe();
    ShowStatus(Status);
    LogInfo(JournalText);
}

void TfrmScales::EditScale()
{
    const int Row = SelectedIndex();
    if (Row < 0) {
        ShowStatus(QStringLiteral("Выберите весы"));
        return;
    }
    const auto I = static_cast<std::size_t>(Row);
    if (FRows[I].Kind != TScaleKind::skDigi) {
        ShowStatus(NotReadyText());
        return;
    }
    std::vector<TScaleConfig> Results;
    {
        TfrmDigi Dialog(this);
        Dialog.Prepare(FSettings, FRows[I], true);
        if (Dialog.exec() != QDialog::Accepted || Dialog.Results().size() != 1)
            return;
        Results = Dialog.Results();
    }
    FRows[I] = Results.front();
    if (I < FOnline.size())
        FOnline[I] = -1;
    RowsChanged(QStringLiteral("Весы изменены"), "scale updated");
}

void TfrmScales::btnRemoveClick()
{
    const int Row = SelectedIndex();
    if (Row < 0) {
        ShowStatus(QStringLiteral("Выберите весы"));
        return;
    }
    const QString Shown = QtText(ScaleDisplayName(FRows[static_cast<std::size_t>(Row)]));
    const QString Question = Shown.isEmpty() ? QStringLiteral("Удалить эти весы?")
                                             : QStringLiteral("Удалить весы «%1»?").arg(Shown);
    if (ShowMessageBox(this, Question, UiScales(), TMessageIcon::miQuestion,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    FRows.erase(FRows.begin() + Row);
    if (static_cast<std::size_t>(Row) < FOnline.size())
        FOnline.erase(FOnline.begin() + Row);
    RowsChanged(QStringLiteral("Весы удалены"), "scale removed");
}

} // namespace Plumeria
